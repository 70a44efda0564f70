// Owners and DACLs of files and folders (GetFileSecurityW), the process's user (its token).
#pragma once

#include "platform/security.h"

namespace platform::win32 {

class Win32Security : public Security {
  public:
    ErrorCode FileSecurity(const std::wstring& path, std::vector<uint8_t>* descriptor) override;
    ErrorCode ProcessUser(std::vector<uint8_t>* sid) override;
    bool PowerUsersAreAdministrators() override;
};

}  // namespace platform::win32
