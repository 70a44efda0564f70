#include "platform/win32/images_win32.h"

#include <windows.h>

namespace platform::win32 {
namespace {

class Win32ImageView : public ImageView {
  public:
    explicit Win32ImageView(const void* base) : base_(base) {}
    ~Win32ImageView() override { UnmapViewOfFile(base_); }
    const uint8_t* Data() const override { return static_cast<const uint8_t*>(base_); }

  private:
    const void* base_;
};

class Win32ImageMapping : public ImageMapping {
  public:
    explicit Win32ImageMapping(HANDLE mapping) : mapping_(mapping) {}
    ~Win32ImageMapping() override { CloseHandle(mapping_); }

    std::unique_ptr<ImageView> MapView(uint32_t size, ErrorCode* error) override {
        const void* base = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, size);
        if (base == nullptr) {
            *error = GetLastError();
            return nullptr;
        }
        return std::make_unique<Win32ImageView>(base);
    }

  private:
    HANDLE mapping_;
};

class Win32ImageFile : public ImageFile {
  public:
    explicit Win32ImageFile(HANDLE file) : file_(file) {}
    ~Win32ImageFile() override { CloseHandle(file_); }

    ErrorCode GetSize(uint64_t* size) override {
        LARGE_INTEGER value{};
        if (!GetFileSizeEx(file_, &value)) {
            return GetLastError();
        }
        *size = static_cast<uint64_t>(value.QuadPart);
        return 0;
    }

    std::unique_ptr<ImageMapping> CreateMapping(uint32_t maximumSize, ErrorCode* error) override {
        HANDLE mapping = CreateFileMappingW(file_, nullptr, PAGE_READONLY, 0, maximumSize, nullptr);
        if (mapping == nullptr) {
            *error = GetLastError();
            return nullptr;
        }
        return std::make_unique<Win32ImageMapping>(mapping);
    }

  private:
    HANDLE file_;
};

class Win32ImageFiles : public ImageFiles {
  public:
    // A server at the other end of the path (a pipe) may identify the caller but never act
    // as it: the service runs as SYSTEM.
    std::unique_ptr<ImageFile> Open(const std::wstring& path, ErrorCode* error) override {
        HANDLE file = CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return nullptr;
        }
        return std::make_unique<Win32ImageFile>(file);
    }
};

}  // namespace

ImageFiles* NativeImageFiles() {
    static Win32ImageFiles images;
    return &images;
}

}  // namespace platform::win32
