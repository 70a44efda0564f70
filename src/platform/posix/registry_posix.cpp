#include "platform/posix/registry_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/errno_map.h"
#include "platform/posix/host_path.h"

namespace platform::posix {

namespace {

std::string HostKeyPath(const std::wstring& path) {
    const char* root = std::getenv("DOVRAND_REGISTRY");
    std::string folder = root != nullptr && *root != '\0' ? root : "/tmp/dovrand/registry";
    std::wstring relative = path;
    for (wchar_t& c : relative) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return folder + "/HKLM/" + ToUtf8(relative);
}

// Closes a file descriptor when it goes.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

class PosixRegistryKey : public RegistryKey {
  public:
    explicit PosixRegistryKey(std::string folder) : folder_(std::move(folder)) {}

    ErrorCode QueryValue(const std::wstring& name, uint8_t* buffer, uint32_t* size) override {
        const FileDescriptor file(open((folder_ + "/" + ToUtf8(name)).c_str(), O_RDONLY));
        if (file.get() < 0) {
            return errno == ENOENT ? error::kFileNotFound : FromErrno(errno);
        }
        struct stat info;
        if (fstat(file.get(), &info) != 0) {
            return FromErrno(errno);
        }
        if (!S_ISREG(info.st_mode)) {
            return error::kFileNotFound;
        }
        if (static_cast<uint64_t>(info.st_size) > *size) {
            *size = info.st_size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(info.st_size);
            return error::kMoreData;
        }
        uint32_t got = 0;
        while (got < *size) {
            const ssize_t count = read(file.get(), buffer + got, *size - got);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                return FromErrno(errno);
            }
            if (count == 0) {
                break;
            }
            got += static_cast<uint32_t>(count);
        }
        *size = got;
        return error::kSuccess;
    }

  private:
    std::string folder_;
};

}  // namespace

std::unique_ptr<RegistryKey> PosixRegistry::OpenLocalMachineKey(const std::wstring& path,
                                                                ErrorCode* error) {
    std::string folder = HostKeyPath(path);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = error::kFileNotFound;
        return nullptr;
    }
    return std::make_unique<PosixRegistryKey>(std::move(folder));
}

}  // namespace platform::posix
