#include "platform/posix/images_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/errno_map.h"
#include "platform/posix/host_path.h"

namespace platform::posix {
namespace {

// ERROR_FILE_INVALID: a mapping of an empty file.
constexpr ErrorCode kFileInvalid = 1006;

class PosixImageView : public ImageView {
  public:
    PosixImageView(void* base, size_t size) : base_(base), size_(size) {}
    ~PosixImageView() override { munmap(base_, size_); }
    const uint8_t* Data() const override { return static_cast<const uint8_t*>(base_); }

  private:
    void* base_;
    size_t size_;
};

// A mapping object holds its own descriptor of the file, as a Win32 section holds the file.
class PosixImageMapping : public ImageMapping {
  public:
    PosixImageMapping(int fd, uint64_t maximumSize) : fd_(fd), maximumSize_(maximumSize) {}
    ~PosixImageMapping() override { close(fd_); }

    std::unique_ptr<ImageView> MapView(uint32_t size, ErrorCode* error) override {
        if (size == 0 || size > maximumSize_) {
            *error = error::kAccessDenied;
            return nullptr;
        }
        void* base = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd_, 0);
        if (base == MAP_FAILED) {
            *error = FromErrno(errno);
            return nullptr;
        }
        return std::make_unique<PosixImageView>(base, size);
    }

  private:
    int fd_;
    uint64_t maximumSize_;
};

class PosixImageFile : public ImageFile {
  public:
    explicit PosixImageFile(int fd) : fd_(fd) {}
    ~PosixImageFile() override { close(fd_); }

    ErrorCode GetSize(uint64_t* size) override {
        const off_t end = lseek(fd_, 0, SEEK_END);
        if (end < 0) {
            return FromErrno(errno);
        }
        if (lseek(fd_, 0, SEEK_SET) < 0) {
            return FromErrno(errno);
        }
        *size = static_cast<uint64_t>(end);
        return error::kSuccess;
    }

    std::unique_ptr<ImageMapping> CreateMapping(uint32_t maximumSize, ErrorCode* error) override {
        struct stat info {};
        if (fstat(fd_, &info) != 0) {
            *error = FromErrno(errno);
            return nullptr;
        }
        const uint64_t fileSize = static_cast<uint64_t>(info.st_size);
        // As Windows: a read-only mapping can neither be empty nor reach past the file's end,
        // so no view can touch pages behind the end of the file.
        if (maximumSize == 0 && fileSize == 0) {
            *error = kFileInvalid;
            return nullptr;
        }
        if (maximumSize > fileSize) {
            *error = error::kNotEnoughMemory;
            return nullptr;
        }
        const int fd = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) {
            *error = FromErrno(errno);
            return nullptr;
        }
        return std::make_unique<PosixImageMapping>(fd, maximumSize == 0 ? fileSize : maximumSize);
    }

  private:
    int fd_;
};

class PosixImageFiles : public ImageFiles {
  public:
    std::unique_ptr<ImageFile> Open(const std::wstring& path, ErrorCode* error) override {
        const int fd = open(HostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *error = FromErrno(errno);
            return nullptr;
        }
        // Windows opens no folder as a file.
        struct stat info {};
        if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
            close(fd);
            *error = error::kAccessDenied;
            return nullptr;
        }
        return std::make_unique<PosixImageFile>(fd);
    }
};

}  // namespace

ImageFiles* NativeImageFiles() {
    static PosixImageFiles images;
    return &images;
}

}  // namespace platform::posix
