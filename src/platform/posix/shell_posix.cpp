#include "platform/posix/shell_posix.h"

namespace platform::posix {

ErrorCode PosixShellFolders::ProgramFiles(std::wstring* folder) {
    *folder = L"C:\\Program Files";
    return error::kSuccess;
}

ErrorCode PosixShellFolders::CommonAppData(std::wstring* folder) {
    *folder = L"C:\\ProgramData";
    return error::kSuccess;
}

}  // namespace platform::posix
