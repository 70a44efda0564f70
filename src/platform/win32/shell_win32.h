// Shell folders over SHGetFolderPathW.
#pragma once

#include "platform/shell.h"

namespace platform::win32 {

// A failing HRESULT is reported as its Win32 code when it carries one, else as the HRESULT.
class Win32ShellFolders : public ShellFolders {
  public:
    ErrorCode ProgramFiles(std::wstring* folder) override;
    ErrorCode CommonAppData(std::wstring* folder) override;
};

}  // namespace platform::win32
