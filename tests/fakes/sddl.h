// Security descriptors for tests, written as SDDL strings (the form icacls and Get-Acl show)
// and built as the self-relative bytes that GetFileSecurityW returns: an owner ("O:"), a group
// ("G:", read and left out) and a DACL ("D:" with P and AI, then "(A;flags;rights;;;sid)" or
// "(D;...)" entries). Rights as letters (FA, GA, SD, DC, ...) or 0x...; SIDs as two-letter
// aliases or S-1-... strings. An unreadable string gives no bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform::fake {

// The binary form of a SID string or alias ("S-1-5-32-544", "BA"); empty when unreadable.
std::vector<uint8_t> SidBytes(const std::wstring& sid);
std::vector<uint8_t> DescriptorFromSddl(const std::wstring& sddl);

}  // namespace platform::fake
