#include "platform/win32/text_files_win32.h"

#include "platform/win32/windows_api.h"

#include <climits>

namespace platform::win32 {

namespace {

class Win32TextFile : public TextFile {
  public:
    explicit Win32TextFile(HANDLE handle) : handle_(handle) {}
    ~Win32TextFile() override { CloseHandle(handle_); }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* read) override {
        DWORD got = 0;
        const BOOL ok = ::ReadFile(handle_, buffer, size, &got, nullptr);
        *read = got;
        return ok ? 0 : GetLastError();
    }

    ErrorCode Seek(uint64_t offset) override {
        LARGE_INTEGER distance;
        distance.QuadPart = static_cast<LONGLONG>(offset);
        return SetFilePointerEx(handle_, distance, nullptr, FILE_BEGIN) ? 0 : GetLastError();
    }

  private:
    HANDLE handle_;
};

}  // namespace

// As _wfopen(path, L"rb") opens it: read access, other readers and writers allowed; a server at
// the other end of the path (a pipe) may identify the caller but never act as it.
std::unique_ptr<TextFile> Win32TextFiles::OpenForReading(const std::wstring& path,
                                                         ErrorCode* error) {
    HANDLE handle = CreateFileW(
        path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32TextFile>(handle);
}

ErrorCode Win32TextFiles::WidenAnsi(const char* bytes, size_t count, std::wstring* text) {
    text->clear();
    if (count == 0) {
        return 0;
    }
    if (count > INT_MAX) {
        return ERROR_INVALID_PARAMETER;
    }
    const int source = static_cast<int>(count);
    const int needed = MultiByteToWideChar(CP_ACP, 0, bytes, source, nullptr, 0);
    if (needed <= 0) {
        return GetLastError();
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int written = MultiByteToWideChar(CP_ACP, 0, bytes, source, wide.data(), needed);
    if (written <= 0) {
        return GetLastError();
    }
    wide.resize(static_cast<size_t>(written));
    *text = std::move(wide);
    return 0;
}

}  // namespace platform::win32
