// Owners and DACLs of paths as SDDL strings made into descriptors, and the process's user.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/security.h"

namespace platform::fake {

// Calls that can be scripted to fail: "GetFileSecurityW", "GetTokenInformation".
// Paths compare without regard to ASCII letter case. A path not set has a descriptor that
// only administrators can change (owner Administrators; SYSTEM and Administrators full
// control, Users read and execute). The user is S-1-5-21-1-2-3-1001 unless set.
class FakeSecurity : public Security {
  public:
    ErrorCode FileSecurity(const std::wstring& path, std::vector<uint8_t>* descriptor) override;
    ErrorCode ProcessUser(std::vector<uint8_t>* sid) override;
    bool PowerUsersAreAdministrators() override;

    void SetSddl(const std::wstring& path, const std::wstring& sddl);
    void SetDescriptor(const std::wstring& path, std::vector<uint8_t> descriptor);
    void SetUser(const std::wstring& sid);
    void SetPowerUsersAreAdministrators(bool value);
    // The paths asked for, in order.
    std::vector<std::wstring> Asked() const;

    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::vector<uint8_t>> descriptors_;  // by lower-cased path
    std::wstring user_ = L"S-1-5-21-1-2-3-1001";
    bool powerUsers_ = false;
    std::vector<std::wstring> asked_;
};

}  // namespace platform::fake
