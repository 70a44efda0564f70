// The program's path (GetModuleFileNameW) and the shell's path functions (shlwapi).
#pragma once

#include "platform/path_functions.h"

namespace platform::win32 {

class Win32PathFunctions : public PathFunctions {
  public:
    ErrorCode ModuleFileName(uint32_t bufferChars, std::wstring* path) override;
    bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) override;
    bool IsDirectory(const std::wstring& path) override;
    bool QuoteSpaces(std::wstring* path) override;
    void UnquoteSpaces(std::wstring* path) override;
};

}  // namespace platform::win32
