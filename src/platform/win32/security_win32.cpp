#include "platform/win32/security_win32.h"

#include <cstring>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

// Closes a handle on every path.
class HandleOwner {
  public:
    explicit HandleOwner(HANDLE handle) : handle_(handle) {}
    ~HandleOwner() { CloseHandle(handle_); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;

  private:
    HANDLE handle_;
};

}  // namespace

ErrorCode Win32Security::FileSecurity(const std::wstring& path, std::vector<uint8_t>* descriptor) {
    const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<uint8_t> buffer(256);
    // The descriptor may grow between the call that gives its size and the next: asked again.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD needed = 0;
        if (GetFileSecurityW(path.c_str(), wanted, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &needed)) {
            if (needed != 0 && needed < buffer.size()) {
                buffer.resize(needed);
            }
            *descriptor = std::move(buffer);
            return 0;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
            return error;
        }
        buffer.assign(needed, 0);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

ErrorCode Win32Security::ProcessUser(std::vector<uint8_t>* sid) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return GetLastError();
    }
    HandleOwner owner(token);
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed < sizeof(TOKEN_USER)) {
        return GetLastError();
    }
    std::vector<uint8_t> buffer(needed);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed)) {
        return GetLastError();
    }
    TOKEN_USER user;
    std::memcpy(&user, buffer.data(), sizeof(user));
    const auto* start = static_cast<const uint8_t*>(user.User.Sid);
    const uint8_t* end = buffer.data() + buffer.size();
    // A SID is 8 bytes and 4 for each sub-authority; it lies within the token's buffer.
    if (start < buffer.data() || end - start < 8 || end - start < 8 + 4 * start[1]) {
        return ERROR_INVALID_DATA;
    }
    sid->assign(start, start + 8 + 4 * start[1]);
    return 0;
}

bool Win32Security::PowerUsersAreAdministrators() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    // Unknown: Power Users count as other accounts, the stricter reading.
    return GetVersionExW(&version) && version.dwMajorVersion < 6;
}

}  // namespace platform::win32
