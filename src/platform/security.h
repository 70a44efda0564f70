// Who may change a file or a folder, and who the process runs as: the security descriptors and
// SIDs as Windows keeps them (their binary forms), for the decisions made above the seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace platform {

class Security {
  public:
    virtual ~Security() = default;
    // The owner and the DACL of a file or folder (GetFileSecurityW with OWNER_ and
    // DACL_SECURITY_INFORMATION) as a self-relative security descriptor: 0 or the error code.
    virtual ErrorCode FileSecurity(const std::wstring& path, std::vector<uint8_t>* descriptor) = 0;
    // The SID of the account the process runs as (its token's user), in its binary form: 0 or
    // the error code.
    virtual ErrorCode ProcessUser(std::vector<uint8_t>* sid) = 0;
    // True on Windows XP and Server 2003 (version 5.x), where a Power User can make himself an
    // administrator.
    virtual bool PowerUsersAreAdministrators() = 0;
};

}  // namespace platform
