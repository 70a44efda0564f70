#include "platform/win32/files_win32.h"

#include "platform/win32/windows_api.h"

#include <sddl.h>

namespace platform::win32 {

namespace {

class Win32AppendFile : public AppendFile {
  public:
    explicit Win32AppendFile(HANDLE handle) : handle_(handle) {}
    ~Win32AppendFile() override { CloseHandle(handle_); }

    ErrorCode Write(const void* data, uint32_t size, uint32_t* written) override {
        DWORD put = 0;
        BOOL ok = WriteFile(handle_, data, size, &put, nullptr);
        *written = put;
        return ok ? 0 : GetLastError();
    }

    ErrorCode GetSize(uint64_t* size) override {
        DWORD low = GetFileSize(handle_, nullptr);
        if (low == INVALID_FILE_SIZE) {
            DWORD error = GetLastError();
            if (error != NO_ERROR) {
                return error;
            }
        }
        *size = low;
        return 0;
    }

    ErrorCode FlushToDisk() override { return FlushFileBuffers(handle_) ? 0 : GetLastError(); }

    ErrorCode GetInformation(uint32_t* attributes, uint32_t* links) override {
        BY_HANDLE_FILE_INFORMATION information{};
        if (!GetFileInformationByHandle(handle_, &information)) {
            return GetLastError();
        }
        *attributes = information.dwFileAttributes;
        *links = information.nNumberOfLinks;
        return 0;
    }

  private:
    HANDLE handle_;
};

// A security descriptor made from SDDL text, released with LocalFree.
class Descriptor {
  public:
    // Null text: no descriptor (the default one). *error is set when the text is refused.
    Descriptor(const wchar_t* sddl, ErrorCode* error) {
        *error = 0;
        if (sddl != nullptr && !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                   sddl, SDDL_REVISION_1, &descriptor_, nullptr)) {
            *error = GetLastError();
            descriptor_ = nullptr;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    ~Descriptor() {
        if (descriptor_ != nullptr) {
            LocalFree(descriptor_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

  private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

std::unique_ptr<AppendFile> Win32FileSystem::OpenForAppend(const std::wstring& path,
                                                           const wchar_t* descriptor,
                                                           ErrorCode* error) {
    Descriptor security(descriptor, error);
    if (*error != 0) {
        return nullptr;
    }
    HANDLE handle =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, security.Attributes(),
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32AppendFile>(handle);
}

ErrorCode Win32FileSystem::CreateDirectory(const std::wstring& path, const wchar_t* descriptor) {
    ErrorCode error = 0;
    Descriptor security(descriptor, &error);
    if (error != 0) {
        return error;
    }
    return CreateDirectoryW(path.c_str(), security.Attributes()) ? 0 : GetLastError();
}

ErrorCode Win32FileSystem::GetAttributes(const std::wstring& path, uint32_t* attributes) {
    const DWORD value = GetFileAttributesW(path.c_str());
    if (value == INVALID_FILE_ATTRIBUTES) {
        return GetLastError();
    }
    *attributes = value;
    return 0;
}

bool Win32FileSystem::PathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::PathCombine(const std::wstring& directory, const std::wstring& name,
                                  std::wstring* path) {
    wchar_t joined[MAX_PATH] = {};
    if (PathCombineW(joined, directory.c_str(), name.c_str()) == nullptr) {
        return false;
    }
    *path = joined;
    return true;
}

bool Win32SystemText::ErrorMessage(ErrorCode code, std::wstring* text) {
    wchar_t* message = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (length == 0 || message == nullptr) {
        return false;
    }
    text->assign(message, length);
    LocalFree(message);
    return true;
}

}  // namespace platform::win32
