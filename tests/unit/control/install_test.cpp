// -install: the service command line, the service entry, the event-log source, every failure.
#include <gtest/gtest.h>

#include <functional>

#include "control_platform.h"

namespace control_test {
namespace {

const std::wstring kQuoted = L"\"" + kExecutable + L"\"";
const std::wstring kNoPrefNotice =
    L"Gobi 2000 firmware preference will be skipped. Options2k*.txt data will be used.\n";

// A folder with a space, too long to be quoted within MAX_PATH.
const std::wstring kLongSpaced = L"D:\\a b" + std::wstring(253, L'c');

struct CommandLine {
    std::vector<std::wstring> keys;
    bool accepted;
    std::wstring commandLine;  // after the quoted executable path
    std::wstring logDirectory;
    std::wstring output;
};

void PrintTo(const CommandLine& c, std::ostream* os) {
    *os << Describe(c.keys);
}

class CommandLineTest : public testing::TestWithParam<CommandLine> {};

TEST_P(CommandLineTest, KeysAndMessages) {
    const CommandLine& c = GetParam();
    ControlTest t;
    t.paths.AddDirectory(L"C:\\Users\\user\\logs");
    t.paths.AddDirectory(L"D:\\My Logs");
    t.paths.AddDirectory(L"D:\\Logs");
    t.paths.AddDirectory(L"D:\\My Logs\\");
    t.paths.AddDirectory(kLongSpaced);
    Arguments keys(c.keys);
    std::wstring line = kQuoted;
    std::wstring directory = L"stale";
    EXPECT_EQ(t.control.BuildServiceCommandLine(keys.argv(), keys.argc(), line, directory),
              c.accepted);
    if (c.accepted) {
        EXPECT_EQ(line, kQuoted + c.commandLine);
        EXPECT_EQ(directory, c.logDirectory);
    }
    EXPECT_EQ(t.console.Text(), c.output);
}

std::vector<std::wstring> ManyKeys(size_t count) {
    return std::vector<std::wstring>(count, L"-nopref");
}

std::wstring Repeated(const std::wstring& text, size_t count) {
    std::wstring all;
    for (size_t i = 0; i < count; ++i) {
        all += text;
    }
    return all;
}

const std::wstring kUseAnother = L" Please use another path.\n";
const std::wstring kTooLong =
    L"The service command line would be longer than 519 characters. Please use fewer keys or a "
    L"shorter path.\n";

std::vector<std::wstring> Concat(std::vector<std::wstring> a, const std::vector<std::wstring>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Keys, CommandLineTest, testing::Values(
    CommandLine{{}, true, L" -service", L"", L""},
    CommandLine{{L"-log"}, true, L" -service -log", L"", L""},
    CommandLine{{L"-log", L"logs"}, true, L" -service -log C:\\Users\\user\\logs",
                L"C:\\Users\\user\\logs", L""},
    CommandLine{{L"/LOG", L"D:\\My Logs", L"-nopref"}, true,
                L" -service /LOG \"D:\\My Logs\" -nopreference", L"D:\\My Logs", kNoPrefNotice},
    // The closing quote after a trailing backslash stays a quote for the service.
    CommandLine{{L"-log", L"D:\\My Logs\\"}, true, L" -service -log \"D:\\My Logs\\\\\"",
                L"D:\\My Logs\\", L""},
    CommandLine{{L"-log", L"C:\\Windows\\notepad.exe"}, false, L"", L"",
                L"Log path does a valid directory." + kUseAnother},
    CommandLine{{L"-log", std::wstring(300, L'x')}, false, L"", L"",
                L"Log path is invalid." + kUseAnother},
    CommandLine{{L"-log", kLongSpaced}, false, L"", L"", L"Log path is invalid." + kUseAnother},
    CommandLine{{L"-nolog"}, false, L"", L"", L"Invalid service start key \"-nolog\".\n"},
    CommandLine{{L"-nopref", L"/service"}, false, L"", L"",
                kNoPrefNotice + L"Invalid service start key \"/service\".\n"},
    CommandLine{{L"-NOPREF"}, true, L" -service -nopreference", L"", kNoPrefNotice},
    CommandLine{{L"-nopreferences"}, true, L" -service -nopreference", L"", kNoPrefNotice},
    CommandLine{{L"stray", L"-log"}, true, L" -service -log", L"", L""},
    CommandLine{{L"-log", L"D:\\Logs", L"-log"}, true, L" -service -log D:\\Logs -log",
                L"D:\\Logs", L""},
    // 520 characters with the terminator. Beside the quoted path (38) and " -service" (9): 33
    // keys " -nopreference" (14) and two " -log" (5) make exactly 519 and fit; 32 and five make
    // 520, refused at the fifth -log without looking at the keys after it.
    CommandLine{Concat(ManyKeys(33), {L"-log", L"-log"}), true,
                L" -service" + Repeated(L" -nopreference", 33) + L" -log -log", L"",
                Repeated(kNoPrefNotice, 33)},
    CommandLine{Concat(ManyKeys(32), {L"-log", L"-log", L"-log", L"-log", L"-log", L"-nopref"}),
                false, L"", L"", Repeated(kNoPrefNotice, 32) + kTooLong}));
// clang-format on

TEST(InstallTest, ServiceEntryAndEventLogSource) {
    ControlTest t;
    t.paths.AddDirectory(L"C:\\Users\\user\\logs");
    EXPECT_EQ(t.Run({L"-install", L"-log", L"logs"}),
              L"Dovrand Service installed.\n"
              L"Log will be being written to \"C:\\Users\\user\\logs\\Dovrand.log\".\n");
    const platform::fake::FakeService s = t.services.Get(L"Dovrand");
    EXPECT_EQ(s.serviceName, L"Dovrand");
    EXPECT_EQ(s.displayName, L"Dovrand Service");
    EXPECT_EQ(s.serviceType, 0x10u);
    EXPECT_EQ(s.startType, 2u);
    EXPECT_EQ(s.errorControl, 1u);
    EXPECT_EQ(s.commandLine, kQuoted + L" -service -log C:\\Users\\user\\logs");
    EXPECT_TRUE(s.dependencies.empty());
    // Restarted a minute after the first and the second failure, left stopped after the third,
    // the count reset after a day; SeChangeNotifyPrivilege its only privilege.
    ASSERT_TRUE(s.failureActions.has_value());
    EXPECT_EQ(s.failureActions->resetPeriodSeconds, 86400u);
    ASSERT_EQ(s.failureActions->actions.size(), 3u);
    const uint32_t actions[3][2] = {{1, 60000}, {1, 60000}, {0, 0}};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(s.failureActions->actions[i].type, actions[i][0]) << i;
        EXPECT_EQ(s.failureActions->actions[i].delayMilliseconds, actions[i][1]) << i;
    }
    EXPECT_TRUE(s.requiredPrivilegesSet);
    EXPECT_EQ(s.requiredPrivileges, std::vector<std::wstring>{L"SeChangeNotifyPrivilege"});
    EXPECT_EQ(t.services.AccessRequested(), (std::vector<uint32_t>{0xF003F, 0xF01FF}));
    EXPECT_EQ(t.registry.AccessRequested(), (std::vector<uint32_t>{0x2001F, 0x2001F}));

    std::vector<uint8_t> path;
    for (wchar_t c : kExecutable + L'\0') {
        path.push_back(static_cast<uint8_t>(c));
        path.push_back(0);
    }
    const std::wstring key = kApplicationKey + L"\\Dovrand";
    const std::vector<platform::fake::WrittenValue> written = t.registry.Written();
    ASSERT_EQ(written.size(), 4u);
    const platform::fake::WrittenValue expected[] = {
        {key, L"EventMessageFile", 2, path},
        {key, L"TypesSupported", 4, {7, 0, 0, 0}},
        {key, L"CategoryMessageFile", 2, path},
        {key, L"CategoryCount", 4, {3, 0, 0, 0}},
    };
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(written[i].key, expected[i].key);
        EXPECT_EQ(written[i].name, expected[i].name);
        EXPECT_EQ(written[i].type, expected[i].type);
        EXPECT_EQ(written[i].data, expected[i].data);
    }
    EXPECT_TRUE(t.AllClosed());
}

TEST(InstallTest, CommandLineOf519CharactersWithoutKeys) {
    ControlTest t;
    const std::wstring path = L"C:\\" + std::wstring(507, L'p');
    t.process.SetModulePath(path);
    EXPECT_TRUE(t.control.Install(nullptr, 0));
    EXPECT_EQ(t.services.Get(L"Dovrand").commandLine, path + L" -service");
    EXPECT_EQ(t.services.Get(L"Dovrand").commandLine.size(), 519u);
}

struct InstallFailure {
    const char* name;
    std::function<void(ControlTest&)> setUp;
    std::wstring output;
    bool installed;  // the service is in the service manager afterwards
    size_t valuesWritten;
};

void PrintTo(const InstallFailure& c, std::ostream* os) {
    *os << c.name;
}

class InstallFailureTest : public testing::TestWithParam<InstallFailure> {};

TEST_P(InstallFailureTest, MessageAndStateLeft) {
    const InstallFailure& c = GetParam();
    ControlTest t;
    c.setUp(t);
    const size_t before = t.registry.Written().size();
    const std::wstring printed = t.console.Text();
    EXPECT_FALSE(t.control.Install(nullptr, 0));
    EXPECT_EQ(t.console.Text().substr(printed.size()), c.output);
    EXPECT_EQ(t.services.Has(L"Dovrand"), c.installed);
    EXPECT_EQ(t.registry.Written().size() - before, c.valuesWritten);
    EXPECT_TRUE(t.AllClosed());
}

const std::wstring kTooSmall =
    L"Unable to install Dovrand Service. Error: The data area passed "
    L"to a system call is too small. (0x7a)\n";
const std::wstring kRegistered =
    L"Dovrand Service installed.\nUnable to register the service in "
    L"Event Log (Access is denied. (0x5))\n";

auto ModulePath(std::wstring path, platform::ErrorCode truncationError = 122) {
    return [=](ControlTest& t) { t.process.SetModulePath(path, truncationError); };
}

auto FailService(const char* call) {
    return [=](ControlTest& t) { t.services.script().Fail(call, 5); };
}

auto FailRegistry(const char* call, int skip = 0) {
    return [=](ControlTest& t) { t.registry.script().Fail(call, 5, 1, skip); };
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, InstallFailureTest, testing::Values(
    InstallFailure{"ModulePathUnreadable",
                   [](ControlTest& t) { t.process.script().Fail("GetModuleFileNameW", 5); },
                   L"Unable to install Dovrand Service. Error: Access is denied. (0x5)\n",
                   false, 0},
    // A path of 520 characters or more comes back cut, with error 122 or, on older systems,
    // none: refused, never installed cut.
    InstallFailure{"ModulePathTruncated",
                   ModulePath(L"C:\\" + std::wstring(517, L'p')),
                   kTooSmall, false, 0},
    InstallFailure{"ModulePathTruncatedSilently",
                   ModulePath(L"C:\\" + std::wstring(600, L'p'), 0),
                   kTooSmall, false, 0},
    // A path with a space that cannot be quoted within MAX_PATH would split the line.
    InstallFailure{"ModulePathUnquotable",
                   ModulePath(L"C:\\My Programs\\" + std::wstring(250, L'p')),
                   L"Unable to install Dovrand Service. Error: The filename or extension is too "
                   L"long. (0xce)\n", false, 0},
    // A path of 511 characters and " -service" make 520 without a key: refused as well.
    InstallFailure{"CommandLineOf520CharactersWithoutKeys",
                   ModulePath(L"C:\\" + std::wstring(508, L'p')),
                   L"The service command line would be longer than 519 characters. Please use "
                   L"fewer keys or a shorter path.\n", false, 0},
    InstallFailure{"ManagerNotOpened", FailService("OpenSCManagerW"),
                   L"OpenSCManager failed with Access is denied. (0x5)\n", false, 0},
    InstallFailure{"InstalledTwice", [](ControlTest& t) { t.control.Install(nullptr, 0); },
                   L"The service already exists. Use -remove to uninstall it first.\n", true, 0},
    InstallFailure{"CreateServiceFails", FailService("CreateServiceW"),
                   L"CreateService failed with Access is denied. (0x5)\n", false, 0},
    InstallFailure{"ApplicationKeyNotOpened", FailRegistry("RegOpenKeyExW"), kRegistered, true, 0},
    InstallFailure{"SourceKeyNotCreated", FailRegistry("RegCreateKeyExW"), kRegistered, true, 0},
    InstallFailure{"ThirdValueNotWritten", FailRegistry("RegSetValueExW", 2), kRegistered, true,
                   2}),
    [](const testing::TestParamInfo<InstallFailure>& info) { return info.param.name; });
// clang-format on

// The configuration after the service is created: a failed call is printed and undoes nothing;
// Windows XP's refusal of the privilege level is silent.
struct Configuration {
    const char* name;
    platform::ErrorCode failureActionsError;
    platform::ErrorCode privilegesError;
    std::wstring output;
};

void PrintTo(const Configuration& c, std::ostream* os) {
    *os << c.name;
}

class ConfigurationTest : public testing::TestWithParam<Configuration> {};

TEST_P(ConfigurationTest, PrintedAndInstallKept) {
    const Configuration& c = GetParam();
    ControlTest t;
    t.text.Add(87, L"The parameter is incorrect.\r\n");
    if (c.failureActionsError != 0) {
        t.services.script().Fail("ChangeServiceConfig2W(FAILURE_ACTIONS)", c.failureActionsError);
    }
    if (c.privilegesError != 0) {
        t.services.script().Fail("ChangeServiceConfig2W(REQUIRED_PRIVILEGES_INFO)",
                                 c.privilegesError);
    }
    EXPECT_TRUE(t.control.Install(nullptr, 0));
    EXPECT_EQ(t.console.Text(), c.output);
    const platform::fake::FakeService s = t.services.Get(L"Dovrand");
    EXPECT_EQ(s.commandLine, kQuoted + L" -service");
    EXPECT_EQ(s.failureActions.has_value(), c.failureActionsError == 0);
    EXPECT_EQ(s.requiredPrivilegesSet, c.privilegesError == 0);
    // Each call made once, whatever the other did; the event-log source registered after them.
    EXPECT_EQ(t.services.script().Calls("ChangeServiceConfig2W(FAILURE_ACTIONS)"), 1);
    EXPECT_EQ(t.services.script().Calls("ChangeServiceConfig2W(REQUIRED_PRIVILEGES_INFO)"), 1);
    EXPECT_EQ(t.registry.Written().size(), 4u);
    EXPECT_TRUE(t.AllClosed());
}

const std::wstring kInstalled = L"Dovrand Service installed.\n";
const std::wstring kNoRecovery =
    L"Unable to set the failure actions of the service (Access is denied. (0x5))\n";
const std::wstring kNoPrivileges =
    L"Unable to set the required privileges of the service (Access is denied. (0x5))\n";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, ConfigurationTest, testing::Values(
    Configuration{"BothSet", 0, 0, kInstalled},
    Configuration{"FailureActionsRefused", 5, 0, kInstalled + kNoRecovery},
    Configuration{"PrivilegesRefused", 0, 5, kInstalled + kNoPrivileges},
    Configuration{"PrivilegeLevelUnknownOnXp", 0, 124, kInstalled},
    Configuration{"BothRefused", 5, 5, kInstalled + kNoRecovery + kNoPrivileges},
    // Another code than XP's is not taken for XP's.
    Configuration{"PrivilegesInvalidParameter", 0, 87,
                  kInstalled + L"Unable to set the required privileges of the service (The "
                               L"parameter is incorrect. (0x57))\n"}),
    [](const testing::TestParamInfo<Configuration>& info) { return info.param.name; });
// clang-format on

}  // namespace
}  // namespace control_test

namespace control_test {
namespace {

// Who can change what the service would run or where it would log, at -install and at the
// install of -start; a refusal creates nothing.
struct Guarded {
    const char* name;
    std::function<void(ControlTest&)> setUp;
    std::vector<std::wstring> args;
    std::wstring output;
    bool installed;
    std::vector<std::wstring> asked;  // the descriptors read, in order (empty: not compared)
};

void PrintTo(const Guarded& c, std::ostream* os) {
    *os << c.name;
}

class GuardedInstallTest : public testing::TestWithParam<Guarded> {};

TEST_P(GuardedInstallTest, OutputAndState) {
    const Guarded& c = GetParam();
    ControlTest t;
    t.paths.AddDirectory(L"C:\\Logs");
    t.paths.AddDirectory(L"C:\\Users\\bob\\logs");
    t.paths.AddDirectory(L"E:\\logs");
    t.paths.AddDirectory(L"\\\\server\\share\\logs");
    t.paths.SetDriveType(L"X:\\", 4);
    t.paths.SetDriveType(L"E:\\", 2);
    c.setUp(t);
    EXPECT_EQ(t.Run(c.args), c.output);
    EXPECT_EQ(t.services.Has(L"Dovrand"), c.installed);
    EXPECT_EQ(t.registry.Written().size(), c.installed ? 4u : 0u);
    if (!c.asked.empty()) {
        EXPECT_EQ(t.security.Asked(), c.asked);
    }
    EXPECT_TRUE(t.AllClosed());
}

const std::wstring kRefused =
    L"Unable to install Dovrand Service: a non-administrator could change what it runs (";
const std::wstring kWhatToDo =
    L"). Copy the programs into a folder that only administrators can change, such as Program "
    L"Files, or use the package.\n";
const std::wstring kInvalidLog = L"Log path is invalid. Please use another path.\n";
const std::wstring kTools =
    L"O:S-1-5-21-1-2-3-1002D:AI(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
    L"(A;ID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)";
const std::wstring kBobsProfile =
    L"O:SYG:SYD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;S-1-5-21-1-2-3-1003)";

auto Program(std::wstring path, std::wstring folder = L"", std::wstring sddl = L"") {
    return [=](ControlTest& t) {
        t.process.SetModulePath(path);
        if (!folder.empty()) {
            t.security.SetSddl(folder, sddl);
        }
    };
}

auto Descriptor(std::wstring path, std::wstring sddl) {
    return [=](ControlTest& t) { t.security.SetSddl(path, sddl); };
}

void Nothing(ControlTest&) {}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, GuardedInstallTest, testing::Values(
    Guarded{"ProgramFiles", Nothing, {L"-install"}, L"Dovrand Service installed.\n", true,
            {kExecutable, L"C:\\Program Files\\Dovrand", L"C:\\Program Files", L"C:\\"}},
    Guarded{"ToolsFolder", Program(L"C:\\Tools\\Dovrand.exe", L"C:\\Tools", kTools), {L"-install"},
            kRefused + L"\"C:\\Tools\": Authenticated Users may add files to it" + kWhatToDo, false,
            {L"C:\\Tools\\Dovrand.exe", L"C:\\Tools"}},
    Guarded{"ProfileAbove",
            Program(L"C:\\Users\\bob\\Downloads\\Dovrand\\Dovrand.exe", L"C:\\Users\\bob",
                    kBobsProfile), {L"-install"},
            kRefused + L"\"C:\\Users\\bob\": S-1-5-21-1-2-3-1003 may delete files in it" + kWhatToDo,
            false, {}},
    Guarded{"ProgramOwnedByUser", Descriptor(kExecutable, L"O:S-1-5-21-1-2-3-1003D:(A;;FA;;;BA)"),
            {L"-install"},
            kRefused + L"\"" + kExecutable + L"\": it is owned by S-1-5-21-1-2-3-1003" + kWhatToDo,
            false, {}},
    Guarded{"ProgramOwnedByTheCaller",
            Descriptor(kExecutable, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)"), {L"-install"},
            L"Dovrand Service installed.\n", true, {}},
    // Without the caller's account, an owner that is not an administrator is refused.
    Guarded{"CallerUnknown",
            [](ControlTest& t) {
                t.security.SetSddl(kExecutable, L"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;BA)");
                t.security.script().Fail("GetTokenInformation", 5);
            }, {L"-install"},
            kRefused + L"\"" + kExecutable + L"\": it is owned by S-1-5-21-1-2-3-1001" + kWhatToDo,
            false, {}},
    Guarded{"PowerUsersOnXp",
            [](ControlTest& t) {
                t.security.SetSddl(L"C:\\Program Files", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;PU)");
                t.security.SetPowerUsersAreAdministrators(true);
            }, {L"-install"}, L"Dovrand Service installed.\n", true, {}},
    Guarded{"PowerUsersAfterXp",
            Descriptor(L"C:\\Program Files", L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;PU)"),
            {L"-install"},
            kRefused + L"\"C:\\Program Files\": Power Users may delete it" + kWhatToDo, false, {}},
    Guarded{"UncProgram", Program(L"\\\\server\\share\\Dovrand.exe"), {L"-install"},
            kRefused + L"\"\\\\server\\share\\Dovrand.exe\": it is on a network path" + kWhatToDo,
            false, {}},
    Guarded{"MappedDriveProgram", Program(L"X:\\Dovrand\\Dovrand.exe"), {L"-install"},
            kRefused + L"\"X:\\Dovrand\\Dovrand.exe\": it is on a network drive" + kWhatToDo, false,
            {}},
    Guarded{"RemovableDriveProgram", Program(L"E:\\Dovrand.exe"), {L"-install"},
            kRefused + L"\"E:\\Dovrand.exe\": it is on a removable drive" + kWhatToDo, false, {}},
    Guarded{"DescriptorUnreadable",
            [](ControlTest& t) { t.security.script().Fail("GetFileSecurityW", 5, 1, 1); },
            {L"-install"},
            kRefused + L"\"C:\\Program Files\\Dovrand\": its permissions cannot be read: Access is "
            L"denied. (0x5)" + kWhatToDo, false, {}},
    // The program is checked before the keys: no key's message is printed.
    Guarded{"StartInstallsFromTools", Program(L"C:\\Tools\\Dovrand.exe", L"C:\\Tools", kTools),
            {L"-start"},
            L"The service does not installed. Trying to install it, then start...\n" + kRefused +
            L"\"C:\\Tools\": Authenticated Users may add files to it" + kWhatToDo, false, {}},
    Guarded{"KeysAfterRefusedProgram", Program(L"C:\\Tools\\Dovrand.exe", L"C:\\Tools", kTools),
            {L"-install", L"-nopref"},
            kRefused + L"\"C:\\Tools\": Authenticated Users may add files to it" + kWhatToDo, false,
            {}},
    Guarded{"LogOnMappedDrive", Nothing, {L"-install", L"-log", L"X:\\logs"}, kInvalidLog, false,
            {}},
    Guarded{"LogOnPipe", Nothing, {L"-install", L"-log", L"\\\\.\\pipe\\logs"}, kInvalidLog, false,
            {}},
    Guarded{"LogOnDevicePath", Nothing, {L"-install", L"-log", L"\\\\?\\C:\\Logs"}, kInvalidLog,
            false, {}},
    // Reached as the computer's account; its descriptor holds the server's accounts.
    Guarded{"LogOnShare", Nothing, {L"-install", L"-log", L"\\\\server\\share\\logs"},
            L"Dovrand Service installed.\nLog will be being written to "
            L"\"\\\\server\\share\\logs\\Dovrand.log\".\n", true,
            {kExecutable, L"C:\\Program Files\\Dovrand", L"C:\\Program Files", L"C:\\"}},
    Guarded{"LogFolderOfAdministrators", Nothing, {L"-install", L"-log", L"C:\\Logs"},
            L"Dovrand Service installed.\nLog will be being written to \"C:\\Logs\\Dovrand.log\".\n",
            true, {kExecutable, L"C:\\Program Files\\Dovrand", L"C:\\Program Files", L"C:\\",
                   L"C:\\Logs", L"C:\\"}},
    Guarded{"LogFolderUsersChange", Descriptor(L"C:\\Logs", kTools),
            {L"-install", L"-log", L"C:\\Logs"},
            L"Log path can be changed by non-administrators (\"C:\\Logs\": Authenticated Users may "
            L"add files to it). Please use another path.\n", false, {}},
    Guarded{"LogFolderInProfile", Descriptor(L"C:\\Users\\bob", kBobsProfile),
            {L"-install", L"-log", L"C:\\Users\\bob\\logs"},
            L"Log path can be changed by non-administrators (\"C:\\Users\\bob\": "
            L"S-1-5-21-1-2-3-1003 may delete files in it). Please use another path.\n", false, {}},
    Guarded{"LogOnRemovableDrive", Nothing, {L"-install", L"-log", L"E:\\logs"},
            L"Log path can be changed by non-administrators (\"E:\\logs\": it is on a removable "
            L"drive). Please use another path.\n", false, {}}),
    [](const testing::TestParamInfo<Guarded>& info) { return info.param.name; });
// clang-format on

}  // namespace
}  // namespace control_test
