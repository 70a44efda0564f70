#include "platform/win32/path_functions_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

// Copies a path into a buffer of MAX_PATH characters; false when it does not fit.
bool IntoPathBuffer(const std::wstring& path, wchar_t (&buffer)[MAX_PATH]) {
    if (path.size() >= MAX_PATH) {
        return false;
    }
    path.copy(buffer, path.size());
    buffer[path.size()] = L'\0';
    return true;
}

}  // namespace

bool Win32PathFunctions::SearchAndQualify(const std::wstring& path, std::wstring* qualified) {
    wchar_t buffer[MAX_PATH] = {};
    if (!PathSearchAndQualifyW(path.c_str(), buffer, MAX_PATH)) {
        return false;
    }
    buffer[MAX_PATH - 1] = L'\0';
    *qualified = buffer;
    return true;
}

bool Win32PathFunctions::IsDirectory(const std::wstring& path) {
    return PathIsDirectoryW(path.c_str()) != FALSE;
}

bool Win32PathFunctions::QuoteSpaces(std::wstring* path) {
    wchar_t buffer[MAX_PATH] = {};
    if (!IntoPathBuffer(*path, buffer)) {
        return path->find(L' ') == std::wstring::npos;
    }
    PathQuoteSpacesW(buffer);
    *path = buffer;
    return path->find(L' ') == std::wstring::npos || path->front() == L'"';
}

uint32_t Win32PathFunctions::DriveType(const std::wstring& root) {
    return GetDriveTypeW(root.c_str());
}

}  // namespace platform::win32
