#include "platform/win32/files_win32.h"

#include "platform/win32/windows_api.h"

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

  private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<AppendFile> Win32FileSystem::OpenForAppend(const std::wstring& path,
                                                           ErrorCode* error) {
    HANDLE handle = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32AppendFile>(handle);
}

ErrorCode Win32FileSystem::CreateDirectory(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) ? 0 : GetLastError();
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
