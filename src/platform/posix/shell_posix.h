// Shell folders on the host: the Windows folders that a default Windows installation has; the
// host path mapping (host_path.h) puts them under $DOVRAND_DRIVES/c.
#pragma once

#include "platform/shell.h"

namespace platform::posix {

// C:\Program Files and C:\ProgramData.
class PosixShellFolders : public ShellFolders {
  public:
    ErrorCode ProgramFiles(std::wstring* folder) override;
    ErrorCode CommonAppData(std::wstring* folder) override;
};

}  // namespace platform::posix
