#include "platform/win32/shell_win32.h"

#include "platform/win32/windows_api.h"

#include <shlobj.h>

namespace platform::win32 {

namespace {

ErrorCode FolderPath(int csidl, std::wstring* folder) {
    wchar_t path[MAX_PATH] = {};
    const HRESULT result = SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    if (FAILED(result)) {
        return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                          : static_cast<ErrorCode>(result);
    }
    path[MAX_PATH - 1] = L'\0';
    *folder = path;
    return 0;
}

}  // namespace

ErrorCode Win32ShellFolders::ProgramFiles(std::wstring* folder) {
    return FolderPath(CSIDL_PROGRAM_FILES, folder);
}

ErrorCode Win32ShellFolders::CommonAppData(std::wstring* folder) {
    return FolderPath(CSIDL_COMMON_APPDATA, folder);
}

}  // namespace platform::win32
