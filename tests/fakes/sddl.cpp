#include "fakes/sddl.h"

#include <cwchar>
#include <map>

namespace platform::fake {

namespace {

const std::map<std::wstring, std::wstring>& Aliases() {
    static const std::map<std::wstring, std::wstring> aliases = {
        {L"SY", L"S-1-5-18"},
        {L"BA", L"S-1-5-32-544"},
        {L"BU", L"S-1-5-32-545"},
        {L"BG", L"S-1-5-32-546"},
        {L"PU", L"S-1-5-32-547"},
        {L"AU", L"S-1-5-11"},
        {L"WD", L"S-1-1-0"},
        {L"CO", L"S-1-3-0"},
        {L"IU", L"S-1-5-4"},
        {L"SU", L"S-1-5-6"},
        {L"AC", L"S-1-15-2-1"},
        {L"TI", L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"},
    };
    return aliases;
}

const std::map<std::wstring, uint32_t>& RightLetters() {
    static const std::map<std::wstring, uint32_t> rights = {
        {L"GA", 0x10000000}, {L"GR", 0x80000000}, {L"GW", 0x40000000}, {L"GX", 0x20000000},
        {L"FA", 0x1F01FF},   {L"FR", 0x120089},   {L"FW", 0x120116},   {L"FX", 0x1200A0},
        {L"SD", 0x10000},    {L"RC", 0x20000},    {L"WD", 0x40000},    {L"WO", 0x80000},
        {L"CC", 0x1},        {L"DC", 0x2},        {L"LC", 0x4},        {L"SW", 0x8},
        {L"RP", 0x10},       {L"WP", 0x20},       {L"DT", 0x40},       {L"LO", 0x80},
        {L"CR", 0x100},
    };
    return rights;
}

const std::map<std::wstring, uint8_t>& FlagLetters() {
    static const std::map<std::wstring, uint8_t> flags = {
        {L"OI", 0x1}, {L"CI", 0x2}, {L"NP", 0x4}, {L"IO", 0x8}, {L"ID", 0x10},
    };
    return flags;
}

void PutWord(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value);
    out[at + 1] = static_cast<uint8_t>(value >> 8);
}

void PutDword(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    PutWord(out, at, value & 0xFFFF);
    PutWord(out, at + 2, value >> 16);
}

bool ReadRights(const std::wstring& text, uint32_t* mask) {
    if (text.rfind(L"0x", 0) == 0) {
        wchar_t* end = nullptr;
        *mask = static_cast<uint32_t>(std::wcstoul(text.c_str(), &end, 16));
        return end != nullptr && *end == L'\0';
    }
    *mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto found = RightLetters().find(text.substr(i, 2));
        if (found == RightLetters().end()) {
            return false;
        }
        *mask |= found->second;
    }
    return text.size() % 2 == 0;
}

bool ReadFlags(const std::wstring& text, uint8_t* flags) {
    *flags = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        const auto found = FlagLetters().find(text.substr(i, 2));
        if (found == FlagLetters().end()) {
            return false;
        }
        *flags |= found->second;
    }
    return text.size() % 2 == 0;
}

// One "(type;flags;rights;object;inherited object;sid)" entry, without its parentheses.
bool AppendAce(const std::wstring& text, std::vector<uint8_t>& acl) {
    std::vector<std::wstring> fields(1);
    for (wchar_t c : text) {
        if (c == L';') {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    if (fields.size() != 6 || (fields[0] != L"A" && fields[0] != L"D")) {
        return false;
    }
    uint8_t flags = 0;
    uint32_t mask = 0;
    const std::vector<uint8_t> sid = SidBytes(fields[5]);
    if (!ReadFlags(fields[1], &flags) || !ReadRights(fields[2], &mask) || sid.empty()) {
        return false;
    }
    const size_t at = acl.size();
    acl.resize(at + 8);
    acl[at] = fields[0] == L"A" ? 0 : 1;
    acl[at + 1] = flags;
    PutWord(acl, at + 2, static_cast<uint32_t>(8 + sid.size()));
    PutDword(acl, at + 4, mask);
    acl.insert(acl.end(), sid.begin(), sid.end());
    return true;
}

}  // namespace

std::vector<uint8_t> SidBytes(const std::wstring& text) {
    const auto alias = Aliases().find(text);
    const std::wstring sid = alias != Aliases().end() ? alias->second : text;
    if (sid.rfind(L"S-1-", 0) != 0) {
        return {};
    }
    std::vector<unsigned long long> numbers;
    const wchar_t* p = sid.c_str() + 4;
    while (*p != L'\0') {
        wchar_t* end = nullptr;
        numbers.push_back(std::wcstoull(p, &end, 10));
        if (end == p || (*end != L'-' && *end != L'\0')) {
            return {};
        }
        p = *end == L'-' ? end + 1 : end;
    }
    if (numbers.empty() || numbers.size() > 16) {
        return {};
    }
    std::vector<uint8_t> bytes = {1, static_cast<uint8_t>(numbers.size() - 1)};
    for (int shift = 40; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(numbers[0] >> shift));
    }
    for (size_t i = 1; i < numbers.size(); ++i) {
        bytes.resize(bytes.size() + 4);
        PutDword(bytes, bytes.size() - 4, static_cast<uint32_t>(numbers[i]));
    }
    return bytes;
}

std::vector<uint8_t> DescriptorFromSddl(const std::wstring& sddl) {
    std::vector<uint8_t> owner;
    std::vector<uint8_t> acl(8, 0);
    uint16_t control = 0x8000;  // SE_SELF_RELATIVE
    size_t aces = 0;
    size_t at = 0;
    while (at < sddl.size()) {
        if (sddl.size() - at < 2 || sddl[at + 1] != L':') {
            return {};
        }
        const wchar_t part = sddl[at];
        at += 2;
        const size_t next = sddl.find_first_of(L"(", at);
        if (part == L'O' || part == L'G') {
            // The SID runs to the next part's letter and colon.
            size_t end = at;
            while (end < sddl.size() && !(end + 1 < sddl.size() && sddl[end + 1] == L':' &&
                                          (sddl[end] == L'G' || sddl[end] == L'D'))) {
                ++end;
            }
            if (part == L'O') {
                owner = SidBytes(sddl.substr(at, end - at));
                if (owner.empty()) {
                    return {};
                }
            }
            at = end;
        } else if (part == L'D') {
            control |= 0x0004;  // SE_DACL_PRESENT
            const std::wstring flags =
                sddl.substr(at, (next == std::wstring::npos ? sddl.size() : next) - at);
            if (flags.find(L'P') != std::wstring::npos)
                control |= 0x1000;  // protected
            if (flags.find(L"AI") != std::wstring::npos)
                control |= 0x0400;  // auto-inherited
            at = next == std::wstring::npos ? sddl.size() : next;
            while (at < sddl.size() && sddl[at] == L'(') {
                const size_t close = sddl.find(L')', at);
                if (close == std::wstring::npos ||
                    !AppendAce(sddl.substr(at + 1, close - at - 1), acl)) {
                    return {};
                }
                ++aces;
                at = close + 1;
            }
        } else {
            return {};
        }
    }
    acl[0] = 2;  // ACL_REVISION
    PutWord(acl, 2, static_cast<uint32_t>(acl.size()));
    PutWord(acl, 4, static_cast<uint32_t>(aces));
    std::vector<uint8_t> out(20, 0);
    out[0] = 1;
    PutWord(out, 2, control);
    if (!owner.empty()) {
        PutDword(out, 4, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), owner.begin(), owner.end());
    }
    if ((control & 0x0004) != 0) {
        PutDword(out, 16, static_cast<uint32_t>(out.size()));
        out.insert(out.end(), acl.begin(), acl.end());
    }
    return out;
}

}  // namespace platform::fake
