#include "control/descriptor.h"

namespace descriptor {

namespace {

constexpr uint16_t kDaclPresent = 0x0004;   // SE_DACL_PRESENT
constexpr uint16_t kSelfRelative = 0x8000;  // SE_SELF_RELATIVE
constexpr size_t kDescriptorHeader = 20;
constexpr size_t kAclHeader = 8;
constexpr size_t kAceHeader = 4;

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t Dword(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::optional<std::vector<Ace>> ReadAcl(const uint8_t* bytes, size_t size) {
    if (size < kAclHeader) {
        return std::nullopt;
    }
    const size_t aclSize = Word(bytes + 2);
    const size_t count = Word(bytes + 4);
    if (aclSize < kAclHeader || aclSize > size) {
        return std::nullopt;
    }
    std::vector<Ace> aces;
    size_t at = kAclHeader;
    for (size_t i = 0; i < count; ++i) {
        if (aclSize - at < kAceHeader) {
            return std::nullopt;
        }
        const uint8_t* entry = bytes + at;
        const size_t aceSize = Word(entry + 2);
        if (aceSize < kAceHeader + 4 || aceSize > aclSize - at) {
            return std::nullopt;
        }
        Ace a;
        a.type = entry[0];
        a.flags = entry[1];
        a.mask = Dword(entry + 4);
        if (a.type == ace::kAccessAllowed || a.type == ace::kAccessDenied ||
            a.type == ace::kAccessAllowedCallback) {
            a.sid = ReadSid(entry + 8, aceSize - 8);
            if (!a.sid) {
                return std::nullopt;
            }
        }
        aces.push_back(std::move(a));
        at += aceSize;
    }
    return aces;
}

}  // namespace

std::optional<Sid> ReadSid(const uint8_t* bytes, size_t size) {
    if (size < 8 || bytes[0] != 1) {
        return std::nullopt;
    }
    const size_t count = bytes[1];
    if (count > 15 || size < 8 + 4 * count) {
        return std::nullopt;
    }
    Sid sid;
    for (size_t i = 2; i < 8; ++i) {
        sid.authority = (sid.authority << 8) | bytes[i];
    }
    for (size_t i = 0; i < count; ++i) {
        sid.subAuthorities.push_back(Dword(bytes + 8 + 4 * i));
    }
    return sid;
}

std::wstring SidString(const Sid& sid) {
    std::wstring text = L"S-1-" + std::to_wstring(sid.authority);
    for (uint32_t sub : sid.subAuthorities) {
        text += L"-" + std::to_wstring(sub);
    }
    return text;
}

std::optional<Descriptor> Read(const uint8_t* bytes, size_t size) {
    if (size < kDescriptorHeader || bytes[0] != 1) {
        return std::nullopt;
    }
    const uint16_t control = Word(bytes + 2);
    if ((control & kSelfRelative) == 0) {
        return std::nullopt;
    }
    const size_t ownerAt = Dword(bytes + 4);
    const size_t daclAt = Dword(bytes + 16);
    Descriptor d;
    if (ownerAt != 0) {
        if (ownerAt < kDescriptorHeader || ownerAt >= size) {
            return std::nullopt;
        }
        d.owner = ReadSid(bytes + ownerAt, size - ownerAt);
        if (!d.owner) {
            return std::nullopt;
        }
    }
    d.hasDacl = (control & kDaclPresent) != 0 && daclAt != 0;
    if (d.hasDacl) {
        if (daclAt < kDescriptorHeader || daclAt >= size) {
            return std::nullopt;
        }
        std::optional<std::vector<Ace>> aces = ReadAcl(bytes + daclAt, size - daclAt);
        if (!aces) {
            return std::nullopt;
        }
        d.dacl = std::move(*aces);
    }
    return d;
}

}  // namespace descriptor
