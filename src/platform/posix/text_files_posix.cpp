#include "platform/posix/text_files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errno_map.h"
#include "platform/posix/host_path.h"
#include "platform/windows_1252.h"

namespace platform::posix {

namespace {

class PosixTextFile : public TextFile {
  public:
    explicit PosixTextFile(int fd) : fd_(fd) {}
    ~PosixTextFile() override { close(fd_); }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* read) override {
        *read = 0;
        for (;;) {
            const ssize_t count = ::read(fd_, buffer, size);
            if (count >= 0) {
                *read = static_cast<uint32_t>(count);
                return error::kSuccess;
            }
            if (errno != EINTR) {
                return FromErrno(errno);
            }
        }
    }

    ErrorCode Seek(uint64_t offset) override {
        if (lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
            return FromErrno(errno);
        }
        return error::kSuccess;
    }

  private:
    int fd_;
};

}  // namespace

std::unique_ptr<TextFile> PosixTextFiles::OpenForReading(const std::wstring& path,
                                                         ErrorCode* error) {
    const int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENOENT ? error::kFileNotFound : FromErrno(errno);
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close(fd);
        *error = error::kAccessDenied;  // a folder opened as a file, as on Windows
        return nullptr;
    }
    return std::make_unique<PosixTextFile>(fd);
}

ErrorCode PosixTextFiles::WidenAnsi(const char* bytes, size_t count, std::wstring* text) {
    *text = Windows1252ToWide(bytes, count);
    return error::kSuccess;
}

}  // namespace platform::posix
