#include "platform/posix/files_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/path_combine.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/host_path.h"

namespace platform::posix {

namespace {

constexpr uint32_t kNormal = 0x80;  // FILE_ATTRIBUTE_NORMAL

uint32_t AttributesOf(const struct stat& info) {
    uint32_t attributes = S_ISDIR(info.st_mode) ? file_attribute::kDirectory : kNormal;
    if (S_ISLNK(info.st_mode)) {
        attributes |= file_attribute::kReparsePoint;
    }
    return attributes;
}

class PosixAppendFile : public AppendFile {
  public:
    explicit PosixAppendFile(int fd) : fd_(fd) {}
    ~PosixAppendFile() override { close(fd_); }

    ErrorCode Write(const void* data, uint32_t size, uint32_t* written) override {
        *written = 0;
        const auto* bytes = static_cast<const char*>(data);
        while (*written < size) {
            ssize_t put = write(fd_, bytes + *written, size - *written);
            if (put < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return FromErrno(errno);
            }
            *written += static_cast<uint32_t>(put);
        }
        return 0;
    }

    ErrorCode GetSize(uint64_t* size) override {
        struct stat info;
        if (fstat(fd_, &info) != 0) {
            return FromErrno(errno);
        }
        *size = static_cast<uint64_t>(info.st_size);
        return 0;
    }

    ErrorCode FlushToDisk() override { return fsync(fd_) == 0 ? 0 : FromErrno(errno); }

    ErrorCode GetInformation(uint32_t* attributes, uint32_t* links) override {
        struct stat info;
        if (fstat(fd_, &info) != 0) {
            return FromErrno(errno);
        }
        *attributes = AttributesOf(info);
        *links = static_cast<uint32_t>(info.st_nlink);
        return 0;
    }

  private:
    int fd_;
};

}  // namespace

// The host's files have modes, not descriptors: a new file or folder gets the usual mode. A
// symbolic link at the path is not followed (O_NOFOLLOW), as a reparse point is not on Windows.
std::unique_ptr<AppendFile> PosixFileSystem::OpenForAppend(const std::wstring& path,
                                                           const wchar_t* /*descriptor*/,
                                                           ErrorCode* error) {
    int fd =
        open(HostPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *error = FromErrno(errno);
        return nullptr;
    }
    return std::make_unique<PosixAppendFile>(fd);
}

ErrorCode PosixFileSystem::CreateDirectory(const std::wstring& path,
                                           const wchar_t* /*descriptor*/) {
    return mkdir(HostPath(path).c_str(), 0755) == 0 ? 0 : FromErrno(errno);
}

ErrorCode PosixFileSystem::GetAttributes(const std::wstring& path, uint32_t* attributes) {
    struct stat info;
    if (lstat(HostPath(path).c_str(), &info) != 0) {
        return FromErrno(errno);
    }
    *attributes = AttributesOf(info);
    return 0;
}

bool PosixFileSystem::PathExists(const std::wstring& path) {
    struct stat info;
    return stat(HostPath(path).c_str(), &info) == 0;
}

bool PosixFileSystem::PathCombine(const std::wstring& directory, const std::wstring& name,
                                  std::wstring* path) {
    return CombinePaths(directory, name, path);
}

bool PosixSystemText::ErrorMessage(ErrorCode code, std::wstring* text) {
    struct Entry {
        ErrorCode code;
        const wchar_t* text;
    };
    static const Entry kTexts[] = {
        {2, L"The system cannot find the file specified.\r\n"},
        {3, L"The system cannot find the path specified.\r\n"},
        {5, L"Access is denied.\r\n"},
        {6, L"The handle is invalid.\r\n"},
        {8, L"Not enough memory resources are available to process this command.\r\n"},
        {31, L"A device attached to the system is not functioning.\r\n"},
        {32,
         L"The process cannot access the file because it is being used by another "
         L"process.\r\n"},
        {87, L"The parameter is incorrect.\r\n"},
        {109, L"The pipe has been ended.\r\n"},
        {112, L"There is not enough space on the disk.\r\n"},
        {122, L"The data area passed to a system call is too small.\r\n"},
        {183, L"Cannot create a file when that file already exists.\r\n"},
        {206, L"The filename or extension is too long.\r\n"},
        {995,
         L"The I/O operation has been aborted because of either a thread exit or an "
         L"application request.\r\n"},
        {997, L"Overlapped I/O operation is in progress.\r\n"},
        {1060, L"The specified service does not exist as an installed service.\r\n"},
        {1073, L"The specified service already exists.\r\n"},
    };
    for (const Entry& entry : kTexts) {
        if (entry.code == code) {
            *text = entry.text;
            return true;
        }
    }
    return false;
}

}  // namespace platform::posix
