#include "download/local_image_path.h"

#include <cwctype>

namespace {

// Windows takes a slash for a backslash in a path.
std::wstring WithBackslashes(std::wstring path) {
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix) {
    for (size_t i = 0; prefix[i] != L'\0'; ++i) {
        if (at + i >= text.size() || std::towlower(text[at + i]) != std::towlower(prefix[i])) {
            return false;
        }
    }
    return true;
}

bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// A path that names its drive or its server: judged without the current folder.
const wchar_t* JudgeAbsolute(const std::wstring& path, platform::PathFunctions& paths,
                             bool* absolute) {
    *absolute = true;
    // \\.\ and \\?\ (Win32 device and literal paths) and \??\ (the object manager's own) reach
    // any device, pipe or share by name.
    if (StartsWithNoCase(path, 0, L"\\\\.\\") || StartsWithNoCase(path, 0, L"\\\\?\\") ||
        StartsWithNoCase(path, 0, L"\\??\\")) {
        return StartsWithNoCase(path, 4, L"pipe\\") ? L"a named pipe, not a file on a local drive"
                                                    : L"a device path, not a file on a local drive";
    }
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        return L"a network path (UNC), not a file on a local drive";
    }
    if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == L':') {
        const std::wstring root = std::wstring(1, path[0]) + L":\\";
        switch (paths.DriveType(root)) {
            case platform::drive::kFixed:
            case platform::drive::kRemovable:
            case platform::drive::kCdRom:
            case platform::drive::kRamDisk:
                return nullptr;
            case platform::drive::kRemote:
                return L"a file on a network drive, not on a local drive";
            case platform::drive::kNoRootDir:
                return L"a drive that does not exist";
            default:
                return L"a drive of unknown type, not a local drive";
        }
    }
    *absolute = false;
    return nullptr;
}

}  // namespace

const wchar_t* NonLocalImagePath(const std::wstring& path, platform::PathFunctions& paths) {
    const std::wstring given = WithBackslashes(path);
    bool absolute = false;
    if (const wchar_t* reason = JudgeAbsolute(given, paths, &absolute); absolute) {
        return reason;
    }
    std::wstring full;
    if (!paths.SearchAndQualify(given, &full)) {
        return L"a relative path that cannot be made full";
    }
    const wchar_t* reason = JudgeAbsolute(WithBackslashes(full), paths, &absolute);
    return absolute ? reason : L"a relative path that cannot be made full";
}
