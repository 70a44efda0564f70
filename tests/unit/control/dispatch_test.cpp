// The command dispatch of Main, the usage text, and the start keys of service mode.
#include <gtest/gtest.h>

#include "control_platform.h"
#include "log/start_keys.h"
#include "service/dovrand_service.h"
#include "service/windows_service.h"

namespace control_test {
namespace {

const wchar_t kUsage[] =
    L"\n Dovrand - firmware loader service for Gobi 1000/2000 WWAN cards \n"
    L"\t\t\t     Version 1.03.1\n"
    L"=================================================================\n"
    L"Loads the firmware into a Gobi card that waits in download mode, whenever one\n"
    L"appears. Run it as a service: install it once, then it starts with Windows.\n"
    L"\n/---------------------------------------------------------------\\\n"
    L"  Keys begin with \"-\" or \"/\"; the case of their letters does not matter.\n"
    L"\\---------------------------------------------------------------/\n\n"
    L"Command line keys:\n\n"
    L"\t-install [keys]   Install service [with service start keys]\n"
    L"\t-remove           Stop and uninstall service\n"
    L"\t-start            Start service\n"
    L"\t-stop             Stop service\n"
    L"\n"
    L"Service start keys:\n\n"
    L"\t-nopreference     [Gobi2000 only] Skip using Gobi firmware preference\n"
    L"\t\t\t  and always load firmware from Options2k*.txt\n\n"
    L"\t-log              Enable logging to service's .exe directory\n"
    L"\t-log <logpath>    Enable logging to the specific <logpath>\n"
    L"\nNote 1: Logpath can be absolute or relative.\n"
    L"Note 2: The logfile's full name can be seen in EventLog (Application).\n"
    L"\n";

TEST(UsageTest, TextLetterForLetter) {
    ControlTest t;
    int code = 0;
    EXPECT_EQ(t.Run({L"-help"}, &code), kUsage);
    EXPECT_EQ(code, 1);
}

// What a command did, told by its first console output on an empty service manager.
const std::wstring kInstalled = L"Dovrand Service installed.\n";
const std::wstring kRemoveMissing = L"The service does not installed.\n";
const std::wstring kStartMissing =
    L"The service does not installed. Trying to install it, then start...\n";
const std::wstring kStopMissing = L"Service does not installed.\n";

struct Dispatch {
    std::vector<std::wstring> args;
    int exitCode;
    std::wstring output;  // the usage, or the start of the command's output
    bool dispatched;
};

void PrintTo(const Dispatch& c, std::ostream* os) {
    *os << Describe(c.args);
}

class DispatchTest : public testing::TestWithParam<Dispatch> {};

TEST_P(DispatchTest, CommandAndExitCode) {
    const Dispatch& c = GetParam();
    ControlTest t;
    // At a console the dispatcher cannot connect to the service manager.
    if (c.exitCode == 2) {
        t.services.script().Fail("StartServiceCtrlDispatcherW", 1063);
    }
    int code = -1;
    const std::wstring output = t.Run(c.args, &code);
    EXPECT_EQ(code, c.exitCode);
    EXPECT_EQ(output.substr(0, c.output.size()), c.output);
    if (c.output.empty()) {
        EXPECT_EQ(output, L"");
    }
    if (c.dispatched) {
        ASSERT_EQ(t.services.DispatchedNames(), std::vector<std::wstring>{L"Dovrand"});
        EXPECT_EQ(t.services.DispatchedEntries()[0], &cWindowsService::ServiceMain);
    } else {
        EXPECT_TRUE(t.services.DispatchedNames().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DispatchTest,
    testing::Values(Dispatch{{}, 1, kUsage, false}, Dispatch{{L"install"}, 1, kUsage, false},
                    Dispatch{{L"/INSTALL"}, 0, kInstalled, false},
                    Dispatch{{L"-Install"}, 0, kInstalled, false},
                    Dispatch{{L"-installnow"}, 0, kInstalled, false},
                    Dispatch{{L"-remove", L"x"}, 0, kRemoveMissing, false},
                    Dispatch{{L"-START"}, 0, kStartMissing, false},
                    Dispatch{{L"-st"}, 1, kUsage, false},
                    Dispatch{{L"-stopper"}, 0, kStopMissing, false},
                    Dispatch{{L"-?"}, 1, kUsage, false}, Dispatch{{L"-h"}, 1, kUsage, false},
                    Dispatch{{L"/HELLO"}, 1, kUsage, false}, Dispatch{{L"-??"}, 1, kUsage, false},
                    Dispatch{{L"-"}, 1, kUsage, false}, Dispatch{{L"-services"}, 0, L"", true},
                    Dispatch{{L"-service"}, 2, L"", true}));

struct StartKeys {
    std::vector<std::wstring> keys;
    bool logEnabled;
    std::wstring logDirectory;
    bool noPreference;
};

void PrintTo(const StartKeys& c, std::ostream* os) {
    *os << Describe(c.keys);
}

class StartKeysTest : public testing::TestWithParam<StartKeys> {};

TEST_P(StartKeysTest, StartKeyState) {
    const StartKeys& c = GetParam();
    ControlTest t;
    Arguments keys(c.keys);
    t.control.ParseStartKeys(keys.argv(), static_cast<unsigned>(keys.argc()));
    EXPECT_EQ(IsLogEnabled(), c.logEnabled);
    EXPECT_EQ(std::wstring(LogDirectory()), c.logDirectory);
    EXPECT_EQ(cDovrandService::Global().NoPreference(), c.noPreference);
}

const std::wstring k259(259, L'd');

INSTANTIATE_TEST_SUITE_P(
    Keys, StartKeysTest,
    testing::Values(
        StartKeys{{L"-log"}, true, L"", false},
        StartKeys{{L"-log", L"-nopreference"}, true, L"", true},
        StartKeys{{L"x", L"-log"}, false, L"", false},
        StartKeys{{L"-nolog", L"-log", L"D:\\Logs"}, true, L"D:\\Logs", false},
        StartKeys{{L"-log", L"-nolog"}, false, L"", false},
        StartKeys{{L"-NOPREFERENCE"}, false, L"", true}, StartKeys{{L"-nopref"}, false, L"", false},
        StartKeys{{L"-foo", L"-log"}, true, L"", false},
        StartKeys{{L"/LOG", L"D:\\A", L"-log", L"D:\\B"}, true, L"D:\\B", false},
        StartKeys{{L"-log", L"D:\\A", L"-log"}, true, L"D:\\A", false},
        StartKeys{{L"-log", L"D:\\A", L"-nopreference", L"x", L"-nolog"}, true, L"D:\\A", true},
        // The folder after -log is not a key: neither an empty one nor one named like a key.
        StartKeys{{L"-log", L""}, true, L"", false},
        StartKeys{{L"-log", L"Xnopreference"}, true, L"Xnopreference", false},
        // A folder that fills the 260-character buffer is taken whole; a longer
        // one is refused with its key, and logging stays as it was.
        StartKeys{{L"-log", k259}, true, k259, false},
        StartKeys{{L"-log", k259 + L"d", L"-nopreference"}, false, L"", true},
        StartKeys{{L"-log", L"D:\\A", L"-log", k259 + L"d"}, true, L"D:\\A", false}));

}  // namespace
}  // namespace control_test
