// The shell's path functions (shlwapi).
#pragma once

#include "platform/path_functions.h"

namespace platform::win32 {

class Win32PathFunctions : public PathFunctions {
  public:
    bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) override;
    bool IsDirectory(const std::wstring& path) override;
    bool QuoteSpaces(std::wstring* path) override;
    uint32_t DriveType(const std::wstring& root) override;
};

}  // namespace platform::win32
