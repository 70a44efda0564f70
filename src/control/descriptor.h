// Security descriptors, ACLs, ACEs and SIDs read from their binary (self-relative) forms, with
// every length and offset checked against the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace descriptor {

// A SID: its identifier authority and sub-authorities.
struct Sid {
    uint64_t authority = 0;
    std::vector<uint32_t> subAuthorities;
    bool operator==(const Sid&) const = default;
};

// The SID at the start of the bytes, or nothing when they hold no whole SID of revision 1.
std::optional<Sid> ReadSid(const uint8_t* bytes, size_t size);
// "S-1-5-32-544".
std::wstring SidString(const Sid& sid);

namespace ace {
constexpr uint8_t kAccessAllowed = 0x00;
constexpr uint8_t kAccessDenied = 0x01;
constexpr uint8_t kAccessAllowedCompound = 0x04;
constexpr uint8_t kAccessAllowedObject = 0x05;
constexpr uint8_t kAccessAllowedCallback = 0x09;
constexpr uint8_t kAccessAllowedCallbackObject = 0x0B;
constexpr uint8_t kInheritOnly = 0x08;  // INHERIT_ONLY_ACE: not for the object itself
}  // namespace ace

struct Ace {
    uint8_t type = 0;
    uint8_t flags = 0;
    uint32_t mask = 0;
    std::optional<Sid> sid;  // none for the kinds whose SID is not right after the mask
};

struct Descriptor {
    std::optional<Sid> owner;
    bool hasDacl = false;  // false: a NULL DACL, which grants everyone everything
    std::vector<Ace> dacl;
};

// A self-relative descriptor; nothing when it is not one or any part lies outside the bytes.
std::optional<Descriptor> Read(const uint8_t* bytes, size_t size);

}  // namespace descriptor
