// Who can change a file or folder, decided on its descriptor: every default descriptor of the
// Windows folders a program or a log may be put in, and planted ones. Under Windows (Wine) the
// descriptors are made from the strings by Windows' own converter; on the host by the tests'.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/install_checks.h"
#include "fakes/sddl.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first
#include <sddl.h>
#endif

namespace {

using install_checks::Role;

const std::wstring kTrustedInstaller =
    L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

// The aliases that the older converters lack, as their SIDs.
std::wstring Expanded(std::wstring sddl) {
    const std::pair<std::wstring, std::wstring> aliases[] = {
        {L";;;TI)", L";;;" + kTrustedInstaller + L")"},
        {L"O:TI", L"O:" + kTrustedInstaller},
        {L"G:TI", L"G:" + kTrustedInstaller},
        {L";;;AC)", L";;;S-1-15-2-1)"},
    };
    for (const auto& [alias, sid] : aliases) {
        for (size_t at = sddl.find(alias); at != std::wstring::npos;
             at = sddl.find(alias, at + sid.size())) {
            sddl.replace(at, alias.size(), sid);
        }
    }
    return sddl;
}

std::vector<uint8_t> Descriptor(const std::wstring& sddl) {
#ifdef _WIN32
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            Expanded(sddl).c_str(), SDDL_REVISION_1, &descriptor, &size)) {
        return {};
    }
    const auto* bytes = static_cast<const uint8_t*>(descriptor);
    std::vector<uint8_t> copy(bytes, bytes + size);
    LocalFree(descriptor);
    return copy;
#else
    return platform::fake::DescriptorFromSddl(Expanded(sddl));
#endif
}

// The descriptors of windows-acls.md, owners added where the listing has none.
const std::wstring kRootXp =
    L"O:S-1-5-21-1-2-3-500D:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)(A;CIIO;DC;;;BU)(A;;0x1200a9;;;WD)";
const std::wstring kRoot7 =
    L"O:TIG:TID:PAI(A;;FA;;;BA)(A;OICIIO;GA;;;BA)(A;;FA;;;SY)(A;OICIIO;GA;;;SY)"
    L"(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)";
const std::wstring kRoot10 =
    L"O:TID:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;0x1200a9;;;BU)(A;OICIIO;SDGXGWGR;;;AU)"
    L"(A;;LC;;;AU)";
const std::wstring kRoot11 =
    L"O:TIG:TID:(A;;LC;;;AU)(A;OICIIO;SDGXGWGR;;;AU)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
    L"(A;OICI;0x1200a9;;;BU)(A;;0x1000a1;;;S-1-15-3-65536-1888954469-739942743-1668119174-"
    L"2468466756-4239452838-1296943325-355587736-700089176)";
const std::wstring kProgramFiles7 =
    L"O:TID:PAI(A;;FA;;;TI)(A;CIIO;GA;;;TI)(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)"
    L"(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)"
    L"(A;OICIIO;GA;;;CO)";
const std::wstring kProgramFiles10 =
    kProgramFiles7 +
    L"(A;;0x1200a9;;;AC)(A;OICIIO;GXGR;;;AC)(A;;0x1200a9;;;S-1-15-2-2)"
    L"(A;OICIIO;GXGR;;;S-1-15-2-2)";
const std::wstring kInstallerFolder10 =
    L"O:BAD:AI(A;ID;FA;;;TI)(A;CIIOID;GA;;;TI)(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)"
    L"(A;ID;FA;;;BA)(A;OICIIOID;GA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)"
    L"(A;OICIIOID;GA;;;CO)(A;ID;0x1200a9;;;AC)(A;OICIIOID;GXGR;;;AC)"
    L"(A;ID;0x1200a9;;;S-1-15-2-2)(A;OICIIOID;GXGR;;;S-1-15-2-2)";
const std::wstring kInstallerFile10 =
    L"O:BAD:AI(A;ID;FA;;;SY)(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;ID;0x1200a9;;;AC)"
    L"(A;ID;0x1200a9;;;S-1-15-2-2)";
const std::wstring kProgramData =
    L"O:SYD:PAI(A;OICIIO;GA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)"
    L"(A;CI;DCLCRPCR;;;BU)";
const std::wstring kProgramDataFolder =
    L"O:BAG:SYD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIIOID;GA;;;CO)"
    L"(A;OICIID;0x1200a9;;;BU)(A;CIID;DCLCRPCR;;;BU)";
const std::wstring kRootFolderXp =
    L"O:BAG:DUD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;;FA;;;BA)(A;OICIIO;GA;;;CO)"
    L"(A;OICI;0x1200a9;;;BU)(A;CI;LC;;;BU)(A;CI;DC;;;BU)";
// C:\Tools on 10 and 11, made by another administrator (the owner) or by the caller.
const std::wstring kToolsAcl =
    L"D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)(A;ID;0x1301bf;;;AU)"
    L"(A;OICIIOID;SDGXGWGR;;;AU)";
const std::wstring kTools10 = L"O:S-1-5-21-1-2-3-1002" + kToolsAcl;
const std::wstring kToolsOfCaller = L"O:S-1-5-21-1-2-3-1001" + kToolsAcl;
const std::wstring kWindowsTemp =
    L"O:SYD:P(A;OICIIO;FA;;;CO)(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;CI;0x100026;;;BU)";
// No owner is listed for it.
const std::wstring kUsersPublic =
    L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)(A;OICI;FA;;;SY)(A;OICIIO;0x1301ff;;;IU)"
    L"(A;;0x1200af;;;IU)(A;OICIIO;0x1301ff;;;SU)(A;;0x1200af;;;SU)(A;OICIIO;0x1301ff;;;S-1-5-3)"
    L"(A;;0x1200af;;;S-1-5-3)";
const std::wstring kOtherProfile =
    L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1003)";
const std::wstring kOwnProfile =
    L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1001)";
// XP's Program Files as Windows 2000's description has it: Power Users Modify.
const std::wstring kProgramFilesXp =
    L"O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;PU)(A;OICI;0x1200a9;;;BU)";
const std::wstring kAdminsOnly = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)";

struct Row {
    const char* name;
    std::wstring sddl;
    Role role;
    std::wstring verdict;  // empty: only administrators can change it
    bool xp = false;       // Power Users count as administrators
};

void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

class DecisionTest : public testing::TestWithParam<Row> {};

TEST_P(DecisionTest, Verdict) {
    const Row& row = GetParam();
    const std::vector<uint8_t> bytes = Descriptor(row.sddl);
    ASSERT_FALSE(bytes.empty()) << "the string did not convert";
    install_checks::Caller caller;
    const std::vector<uint8_t> user = platform::fake::SidBytes(L"S-1-5-21-1-2-3-1001");
    caller.user = descriptor::ReadSid(user.data(), user.size());
    caller.powerUsersAreAdministrators = row.xp;
    EXPECT_EQ(install_checks::WhoCanChange(bytes, row.role, caller), row.verdict);
}

constexpr Role kProgram = Role::kProgram;
constexpr Role kFolder = Role::kFolder;
constexpr Role kAbove = Role::kAbove;

// clang-format off
INSTANTIATE_TEST_SUITE_P(WindowsFolders, DecisionTest, testing::Values(
    Row{"RootXpHoldsProgram", kRootXp, kFolder, L""},
    Row{"RootXpAbove", kRootXp, kAbove, L""},
    Row{"Root7HoldsProgram", kRoot7, kFolder, L""},
    Row{"Root7Above", kRoot7, kAbove, L""},
    Row{"Root10HoldsProgram", kRoot10, kFolder, L""},
    Row{"Root10Above", kRoot10, kAbove, L""},
    Row{"Root11HoldsProgram", kRoot11, kFolder, L""},
    Row{"Root11Above", kRoot11, kAbove, L""},
    Row{"ProgramFiles7HoldsProgram", kProgramFiles7, kFolder, L""},
    Row{"ProgramFiles7Above", kProgramFiles7, kAbove, L""},
    Row{"ProgramFiles10HoldsProgram", kProgramFiles10, kFolder, L""},
    Row{"ProgramFiles10Above", kProgramFiles10, kAbove, L""},
    Row{"InstallerFolder10", kInstallerFolder10, kFolder, L""},
    Row{"InstallerFolder10OwnedBySystem", L"O:SY" + kInstallerFolder10.substr(4), kFolder, L""},
    Row{"InstallerFile10", kInstallerFile10, kProgram, L""},
    Row{"ProgramFilesXp", kProgramFilesXp, kFolder, L"", true},
    Row{"ProgramFilesXpAbove", kProgramFilesXp, kAbove, L"", true},
    // The same entries where Power Users cannot make themselves administrators.
    Row{"ProgramFilesXpEntriesOnVista", kProgramFilesXp, kFolder, L"Power Users may add files to it"},
    Row{"ProgramDataHoldsProgram", kProgramData, kFolder, L"Users may add files to it"},
    Row{"ProgramDataAbove", kProgramData, kAbove, L""},
    Row{"ProgramDataFolder", kProgramDataFolder, kFolder, L"Users may add files to it"},
    Row{"FolderMadeInRootXp", kRootFolderXp, kFolder, L"Users may add files to it"},
    Row{"FolderMadeInRootXpAbove", kRootFolderXp, kAbove, L""},
    Row{"Tools10", kTools10, kFolder, L"Authenticated Users may add files to it"},
    Row{"Tools10Above", kTools10, kAbove, L"Authenticated Users may delete it"},
    Row{"ToolsOfTheCaller", kToolsOfCaller, kFolder, L"Authenticated Users may add files to it"},
    // Only its owner is against it, once the entries are gone.
    Row{"OwnedByAnotherAdministrator", L"O:S-1-5-21-1-2-3-1002D:(A;;FA;;;BA)", kFolder,
        L"it is owned by S-1-5-21-1-2-3-1002"},
    Row{"WindowsTemp", kWindowsTemp, kFolder, L"Users may add files to it"},
    Row{"UsersPublic", kUsersPublic, kFolder, L"INTERACTIVE may add files to it"},
    Row{"OtherProfile", kOtherProfile, kFolder, L"S-1-5-21-1-2-3-1003 may add files to it"},
    Row{"OtherProfileAbove", kOtherProfile, kAbove, L"S-1-5-21-1-2-3-1003 may delete files in it"},
    Row{"OwnProfile", kOwnProfile, kFolder, L""}));

INSTANTIATE_TEST_SUITE_P(Planted, DecisionTest, testing::Values(
    Row{"UsersModifyFolder", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", kFolder,
        L"Users may add files to it"},
    Row{"UsersModifyAbove", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;BU)", kAbove,
        L"Users may delete it"},
    Row{"ProgramOwnedByUser", L"O:S-1-5-21-1-2-3-1003D:(A;;FA;;;BA)", kProgram,
        L"it is owned by S-1-5-21-1-2-3-1003"},
    Row{"ProgramGenericWrite", L"O:BAD:(A;;FA;;;BA)(A;;GW;;;WD)", kProgram,
        L"Everyone may write to it"},
    Row{"ProgramGenericAllInheritOnly", L"O:BAD:(A;;FA;;;BA)(A;OICIIO;GA;;;WD)", kProgram, L""},
    Row{"ProgramAppend", L"O:BAD:(A;;FA;;;BA)(A;;LC;;;BU)", kProgram, L"Users may append to it"},
    Row{"ProgramWriteDac", L"O:BAD:(A;;FA;;;BA)(A;;WD;;;AU)", kProgram,
        L"Authenticated Users may change its permissions"},
    Row{"FolderWriteOwner", L"O:BAD:(A;;FA;;;BA)(A;;WO;;;AU)", kFolder,
        L"Authenticated Users may take its ownership"},
    Row{"FolderDeleteChild", L"O:BAD:(A;;FA;;;BA)(A;;DT;;;AU)", kFolder,
        L"Authenticated Users may delete files in it"},
    // Add a subfolder, write attributes and extended attributes: harmless above.
    Row{"AboveSubfoldersOnly", L"O:BAD:(A;;FA;;;BA)(A;;LCCRRP;;;AU)", kAbove, L""},
    Row{"FolderSubfoldersOnly", L"O:BAD:(A;;FA;;;BA)(A;;LC;;;AU)", kFolder, L""},
    Row{"DenialGrantsNothing", L"O:BAD:(A;;FA;;;BA)(D;;FA;;;WD)", kProgram, L""},
    Row{"NoDacl", L"O:BA", kFolder, L"it has no access list, so Everyone may change it"},
    Row{"NoOwner", L"D:(A;;FA;;;BA)", kFolder, L"it has no owner"},
    Row{"PowerUsersOwnerOnXp", L"O:PUD:(A;;FA;;;PU)", kProgram, L"", true},
    Row{"PowerUsersOwnerOnVista", L"O:PUD:(A;;FA;;;BA)", kProgram,
        L"it is owned by Power Users"}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });
// clang-format on

// Bytes that are no descriptor, or whose parts lie outside them: never read past the end.
struct Broken {
    const char* name;
    size_t cut;  // bytes kept of the admin-only descriptor (0: all)
    size_t at;   // a byte changed
    uint8_t value;
};

void PrintTo(const Broken& b, std::ostream* os) {
    *os << b.name;
}

class BrokenDescriptorTest : public testing::TestWithParam<Broken> {};

TEST_P(BrokenDescriptorTest, CannotBeRead) {
    const Broken& b = GetParam();
    // 20 header bytes, the owner (16) at 20, the DACL at 36: its header, then the SYSTEM entry
    // (20) at 44 and the Administrators entry (24) at 64; 88 bytes.
    std::vector<uint8_t> bytes = platform::fake::DescriptorFromSddl(kAdminsOnly);
    ASSERT_EQ(bytes.size(), 88u);
    if (b.at != 0) {
        bytes[b.at] = b.value;
    }
    if (b.cut != 0) {
        bytes.resize(b.cut);
    }
    bytes.shrink_to_fit();
    EXPECT_EQ(install_checks::WhoCanChange(bytes, Role::kFolder, {}),
              L"its permissions cannot be read");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, BrokenDescriptorTest, testing::Values(
    Broken{"Empty", 1, 0, 0},
    Broken{"HeaderCut", 19, 0, 0},
    Broken{"NotSelfRelative", 0, 3, 0x00},
    Broken{"OwnerOffsetPastEnd", 0, 4, 200},
    Broken{"OwnerCut", 30, 0, 0},
    Broken{"OwnerSubAuthoritiesPastEnd", 0, 21, 16},
    Broken{"OwnerRevision", 0, 20, 2},
    Broken{"DaclOffsetPastEnd", 0, 16, 88},
    Broken{"DaclSizePastEnd", 0, 38, 90},
    Broken{"MoreEntriesThanBytes", 0, 40, 3},
    Broken{"EntrySizePastAcl", 0, 46, 60},
    Broken{"EntrySizeTooSmall", 0, 46, 4},
    Broken{"EntrySidPastEntry", 0, 53, 5},
    Broken{"LastEntryCut", 80, 0, 0}),
    [](const testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
