#include "fakes/security_fake.h"

#include "fakes/sddl.h"
#include "platform/ascii_case.h"

namespace platform::fake {

ErrorCode FakeSecurity::FileSecurity(const std::wstring& path, std::vector<uint8_t>* descriptor) {
    if (const ErrorCode code = script_.Check("GetFileSecurityW"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    asked_.push_back(path);
    const auto found = descriptors_.find(LowerCaseAscii(path));
    *descriptor =
        found != descriptors_.end()
            ? found->second
            : DescriptorFromSddl(L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
    return 0;
}

ErrorCode FakeSecurity::ProcessUser(std::vector<uint8_t>* sid) {
    if (const ErrorCode code = script_.Check("GetTokenInformation"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *sid = SidBytes(user_);
    return 0;
}

bool FakeSecurity::PowerUsersAreAdministrators() {
    std::lock_guard<std::mutex> lock(mutex_);
    return powerUsers_;
}

void FakeSecurity::SetSddl(const std::wstring& path, const std::wstring& sddl) {
    SetDescriptor(path, DescriptorFromSddl(sddl));
}

void FakeSecurity::SetDescriptor(const std::wstring& path, std::vector<uint8_t> descriptor) {
    std::lock_guard<std::mutex> lock(mutex_);
    descriptors_[LowerCaseAscii(path)] = std::move(descriptor);
}

void FakeSecurity::SetUser(const std::wstring& sid) {
    std::lock_guard<std::mutex> lock(mutex_);
    user_ = sid;
}

void FakeSecurity::SetPowerUsersAreAdministrators(bool value) {
    std::lock_guard<std::mutex> lock(mutex_);
    powerUsers_ = value;
}

std::vector<std::wstring> FakeSecurity::Asked() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
}

}  // namespace platform::fake
