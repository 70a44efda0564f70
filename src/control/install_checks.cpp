#include "control/install_checks.h"

#include "log/log.h"
#include "platform/path_functions.h"
#include "platform/platform.h"
#include "platform/security.h"

namespace install_checks {

namespace {

using descriptor::Sid;

constexpr uint64_t kWorldAuthority = 1;
constexpr uint64_t kCreatorAuthority = 3;
constexpr uint64_t kNtAuthority = 5;

constexpr uint32_t kGenericRead = 0x80000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;
// The file generic mapping: FILE_GENERIC_READ, _WRITE, _EXECUTE and FILE_ALL_ACCESS.
constexpr uint32_t kFileGenericRead = 0x120089;
constexpr uint32_t kFileGenericWrite = 0x120116;
constexpr uint32_t kFileGenericExecute = 0x1200A0;
constexpr uint32_t kFileAllAccess = 0x1F01FF;

constexpr uint32_t kWriteData = 0x2;     // FILE_WRITE_DATA, FILE_ADD_FILE on a folder
constexpr uint32_t kAppendData = 0x4;    // FILE_APPEND_DATA
constexpr uint32_t kDeleteChild = 0x40;  // FILE_DELETE_CHILD
constexpr uint32_t kDelete = 0x10000;
constexpr uint32_t kWriteDac = 0x40000;
constexpr uint32_t kWriteOwner = 0x80000;

// The rights that let an account change the object in each role, with what they let it do,
// in the order a refusal names the first one held.
struct Right {
    uint32_t mask;
    const wchar_t* program;
    const wchar_t* folder;
    const wchar_t* above;
};
constexpr Right kRights[] = {
    {kWriteData, L"write to it", L"add files to it", nullptr},
    {kAppendData, L"append to it", nullptr, nullptr},
    {kDeleteChild, nullptr, L"delete files in it", L"delete files in it"},
    {kDelete, L"delete it", L"delete it", L"delete it"},
    {kWriteDac, L"change its permissions", L"change its permissions", L"change its permissions"},
    {kWriteOwner, L"take its ownership", L"take its ownership", L"take its ownership"},
};

const wchar_t* WhatItMayDo(const Right& right, Role role) {
    switch (role) {
        case Role::kProgram:
            return right.program;
        case Role::kFolder:
            return right.folder;
        case Role::kAbove:
            return right.above;
    }
    return nullptr;
}

uint32_t MapGeneric(uint32_t mask) {
    uint32_t mapped = mask & 0x00FFFFFF;
    if ((mask & kGenericRead) != 0)
        mapped |= kFileGenericRead;
    if ((mask & kGenericWrite) != 0)
        mapped |= kFileGenericWrite;
    if ((mask & kGenericExecute) != 0)
        mapped |= kFileGenericExecute;
    if ((mask & (kGenericAll | kMaximumAllowed)) != 0)
        mapped |= kFileAllAccess;
    return mapped;
}

Sid Nt(std::vector<uint32_t> subs) {
    return Sid{kNtAuthority, std::move(subs)};
}

bool IsAdministrator(const Sid& sid, const Caller& caller) {
    static const Sid kSystem = Nt({18});
    static const Sid kAdministrators = Nt({32, 544});
    static const Sid kPowerUsers = Nt({32, 547});
    static const Sid kTrustedInstaller =
        Nt({80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464});
    if (sid == kSystem || sid == kAdministrators || sid == kTrustedInstaller) {
        return true;
    }
    if (caller.powerUsersAreAdministrators && sid == kPowerUsers) {
        return true;
    }
    if (caller.user && sid == *caller.user) {
        return true;
    }
    // The built-in Administrator account of the machine or the domain (relative id 500), the
    // owner of XP's system drive.
    const std::vector<uint32_t>& subs = sid.subAuthorities;
    return sid.authority == kNtAuthority && subs.size() == 5 && subs[0] == 21 && subs[4] == 500;
}

std::wstring AccountName(const Sid& sid) {
    struct Known {
        uint64_t authority;
        std::vector<uint32_t> subs;
        const wchar_t* name;
    };
    static const Known kKnown[] = {
        {kWorldAuthority, {0}, L"Everyone"},
        {kCreatorAuthority, {0}, L"CREATOR OWNER"},
        {kCreatorAuthority, {4}, L"OWNER RIGHTS"},
        {kNtAuthority, {2}, L"NETWORK"},
        {kNtAuthority, {3}, L"BATCH"},
        {kNtAuthority, {4}, L"INTERACTIVE"},
        {kNtAuthority, {6}, L"SERVICE"},
        {kNtAuthority, {7}, L"ANONYMOUS LOGON"},
        {kNtAuthority, {11}, L"Authenticated Users"},
        {kNtAuthority, {32, 545}, L"Users"},
        {kNtAuthority, {32, 546}, L"Guests"},
        {kNtAuthority, {32, 547}, L"Power Users"},
    };
    for (const Known& known : kKnown) {
        if (sid.authority == known.authority && sid.subAuthorities == known.subs) {
            return known.name;
        }
    }
    return descriptor::SidString(sid);
}

struct LocalPath {
    std::wstring path;    // without a trailing backslash, but for the root ("C:\")
    std::wstring reason;  // why it is not on a local fixed drive; empty when it is
};

// The path without \\?\ before a drive letter or trailing backslashes; the reason when it is
// not a path on a local fixed drive.
LocalPath OnLocalDrive(std::wstring path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() >= 7 && path[5] == L':' && path[6] == L'\\') {
        path.erase(0, 4);
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        return {path, L"it is on a network path"};
    }
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\') {
        return {path, L"it is not on a local drive"};
    }
    while (path.size() > 3 && path.back() == L'\\') {
        path.pop_back();
    }
    switch (platform::Get().paths->DriveType(path.substr(0, 3))) {
        case platform::drive::kFixed:
            return {path, L""};
        case platform::drive::kRemote:
            return {path, L"it is on a network drive"};
        case platform::drive::kRemovable:
        case platform::drive::kCdRom:
            return {path, L"it is on a removable drive"};
        default:
            return {path, L"it is not on a local fixed drive"};
    }
}

Caller TheCaller() {
    platform::Security& security = *platform::Get().security;
    Caller caller;
    std::vector<uint8_t> user;
    if (security.ProcessUser(&user) == 0) {
        caller.user = descriptor::ReadSid(user.data(), user.size());
    }
    caller.powerUsersAreAdministrators = security.PowerUsersAreAdministrators();
    return caller;
}

// The object, then each folder above it to the root; the first that another account can
// change decides.
Verdict CheckFromObject(const LocalPath& local, Role role) {
    if (!local.reason.empty()) {
        return {true, local.path, local.reason};
    }
    const Caller caller = TheCaller();
    std::wstring path = local.path;
    for (;;) {
        std::vector<uint8_t> bytes;
        const platform::ErrorCode error = platform::Get().security->FileSecurity(path, &bytes);
        if (error != 0) {
            return {true, path,
                    std::wstring(L"its permissions cannot be read: ") + ErrorText(error)};
        }
        if (std::wstring reason = WhoCanChange(bytes, role, caller); !reason.empty()) {
            return {true, path, reason};
        }
        if (path.size() <= 3) {
            return {};
        }
        const size_t last = path.find_last_of(L'\\');
        path.erase(last <= 2 ? 3 : last);
        role = role == Role::kProgram ? Role::kFolder : Role::kAbove;
    }
}

}  // namespace

std::wstring WhoCanChange(const std::vector<uint8_t>& bytes, Role role, const Caller& caller) {
    const std::optional<descriptor::Descriptor> d = descriptor::Read(bytes.data(), bytes.size());
    if (!d) {
        return L"its permissions cannot be read";
    }
    if (!d->hasDacl) {
        return L"it has no access list, so Everyone may change it";
    }
    for (const descriptor::Ace& entry : d->dacl) {
        if ((entry.flags & descriptor::ace::kInheritOnly) != 0) {
            continue;
        }
        switch (entry.type) {
            case descriptor::ace::kAccessAllowed:
            case descriptor::ace::kAccessAllowedCallback:
                break;
            // Entries that grant rights in a form not read here count as granting them all.
            case descriptor::ace::kAccessAllowedCompound:
            case descriptor::ace::kAccessAllowedObject:
            case descriptor::ace::kAccessAllowedCallbackObject:
                return L"it has an access entry of a kind this program does not read";
            // Denials and audits grant nothing; a denial is not counted on either.
            default:
                continue;
        }
        if (IsAdministrator(*entry.sid, caller)) {
            continue;
        }
        const uint32_t mask = MapGeneric(entry.mask);
        for (const Right& right : kRights) {
            const wchar_t* what = WhatItMayDo(right, role);
            if (what != nullptr && (mask & right.mask) != 0) {
                return AccountName(*entry.sid) + L" may " + what;
            }
        }
    }
    // The owner may always change the permissions. Checked after the entries, which name
    // what a standard user could do more plainly than an owner's SID.
    if (!d->owner) {
        return L"it has no owner";
    }
    if (!IsAdministrator(*d->owner, caller)) {
        return L"it is owned by " + AccountName(*d->owner);
    }
    return L"";
}

Verdict CheckProgram(const std::wstring& program) {
    return CheckFromObject(OnLocalDrive(program), Role::kProgram);
}

Verdict CheckFolder(const std::wstring& folder) {
    return CheckFromObject(OnLocalDrive(folder), Role::kFolder);
}

}  // namespace install_checks
