// Shell folders (SHGetFolderPathW).
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

class ShellFolders {
  public:
    virtual ~ShellFolders() = default;
    // CSIDL_PROGRAM_FILES, current value, without a closing backslash.
    virtual ErrorCode ProgramFiles(std::wstring* folder) = 0;
    // CSIDL_COMMON_APPDATA, current value, without a closing backslash.
    virtual ErrorCode CommonAppData(std::wstring* folder) = 0;
};

}  // namespace platform
