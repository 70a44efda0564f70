// -remove, -start and -stop against the fake service manager: every outcome and its console
// output, the stop wait's polls, every handle closed.
#include <gtest/gtest.h>

#include <functional>

#include "control_platform.h"

namespace control_test {
namespace {

using platform::service::kRunning;
using platform::service::kStopped;
using platform::service::kStopPending;

constexpr uint32_t kMissing = 0;     // no service installed
constexpr uint32_t kDisabled = 100;  // installed, stopped, start type disabled

struct Command {
    const char* name;
    std::wstring command;
    uint32_t state;                         // of the installed service, or kMissing
    std::vector<uint32_t> statesAfterStop;  // one per status query of the stop wait
    std::function<void(ControlTest&)> script;
    std::wstring output;
    bool installedAfter;
    std::vector<uint32_t> sleeps;
};

void PrintTo(const Command& c, std::ostream* os) {
    *os << c.name;
}

class CommandTest : public testing::TestWithParam<Command> {};

TEST_P(CommandTest, OutputAndState) {
    const Command& c = GetParam();
    ControlTest t;
    if (c.state != kMissing) {
        platform::fake::FakeService s;
        s.serviceName = L"Dovrand";
        s.displayName = L"Dovrand Service";
        s.state = c.state == kDisabled ? kStopped : c.state;
        s.startType = c.state == kDisabled ? platform::service::kDisabled : 2;
        s.statesAfterStop = c.statesAfterStop;
        t.services.AddService(s);
    }
    if (c.script) {
        c.script(t);
    }
    int code = -1;
    EXPECT_EQ(t.Run({c.command}, &code), c.output);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(t.services.Has(L"Dovrand"), c.installedAfter);
    EXPECT_EQ(t.console.Sleeps(), c.sleeps);
    EXPECT_TRUE(t.AllClosed());
}

const std::wstring kStopping = L"Stopping Dovrand Service...";
const std::wstring kStarting = L"Starting Dovrand Service...";
const std::wstring kNotice =
    L"The service does not installed. Trying to install it, then start...\n";
const std::vector<uint32_t> kNoSleep;
const std::vector<uint32_t> kThreePolls = {300, 1000, 1000};

auto Fail(const char* call, uint32_t code, int times = 1, int skip = 0) {
    return [=](ControlTest& t) { t.services.script().Fail(call, code, times, skip); };
}

const auto kName = [](const testing::TestParamInfo<Command>& info) { return info.param.name; };
const std::wstring kRemoved = L"Dovrand Service removed.\n";
const std::wstring kDenied = L"Access is denied. (0x5)\n";
const std::vector<uint32_t> kPending2 = {kStopPending, kStopPending, kStopped};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Remove, CommandTest, testing::Values(
    Command{"Stopped", L"-remove", kStopped, {}, nullptr, kRemoved, false, kNoSleep},
    Command{"Running", L"-remove", kRunning, kPending2, nullptr,
            kStopping + L"..stopped\n" + kRemoved, false, kThreePolls},
    // A service that does not stop is deleted by the manager once it stops.
    Command{"BackToRunning", L"-remove", kRunning, {kStopPending, kRunning}, nullptr,
            kStopping + L".failed\n" + kRemoved, true, {300, 1000}},
    Command{"Missing", L"-remove", kMissing, {}, nullptr, L"The service does not installed.\n",
            false, kNoSleep},
    Command{"ManagerNotOpened", L"-remove", kStopped, {}, Fail("OpenSCManagerW", 5),
            L"OpenSCManager failed with " + kDenied, true, kNoSleep},
    Command{"ServiceNotOpened", L"-remove", kStopped, {}, Fail("OpenServiceW", 5),
            L"OpenService failed with " + kDenied, true, kNoSleep},
    Command{"StopRefused", L"-remove", kRunning, {}, Fail("ControlService", 5), kRemoved, true,
            kNoSleep},
    Command{"DeleteRefused", L"-remove", kStopped, {}, Fail("DeleteService", 5),
            L"DeleteService failed with " + kDenied, true, kNoSleep}), kName);

INSTANTIATE_TEST_SUITE_P(Stop, CommandTest, testing::Values(
    Command{"Running", L"-stop", kRunning, kPending2, nullptr, kStopping + L"..stopped\n", true,
            kThreePolls},
    Command{"StopsAtOnce", L"-stop", kRunning, {kStopped}, nullptr, kStopping + L"stopped\n",
            true, {300}},
    Command{"BackToRunning", L"-stop", kRunning, {kStopPending, kStopPending, kRunning}, nullptr,
            kStopping + L"..failed\n", true, kThreePolls},
    Command{"QueryFails", L"-stop", kRunning, {kStopPending}, Fail("QueryServiceStatus", 5, 1, 2),
            kStopping + L"..failed\n", true, kThreePolls},
    Command{"NotRunning", L"-stop", kStopped, {}, nullptr, L"The service is not running.\n",
            true, kNoSleep},
    Command{"Missing", L"-stop", kMissing, {}, nullptr, L"Service does not installed.\n", false,
            kNoSleep},
    Command{"ManagerNotOpened", L"-stop", kRunning, {}, Fail("OpenSCManagerW", 5),
            L"OpenSCManager failed with " + kDenied, true, kNoSleep},
    Command{"ServiceNotOpened", L"-stop", kRunning, {}, Fail("OpenServiceW", 5),
            L"OpenService failed with " + kDenied, true, kNoSleep},
    Command{"ControlRefused", L"-stop", kRunning, {}, Fail("ControlService", 5),
            L"ControlService failed with " + kDenied, true, kNoSleep}), kName);

INSTANTIATE_TEST_SUITE_P(Start, CommandTest, testing::Values(
    Command{"Stopped", L"-start", kStopped, {}, nullptr, kStarting + L"started\n", true,
            kNoSleep},
    Command{"Running", L"-start", kRunning, {}, nullptr,
            kStarting + L"The service is already running.\n", true, kNoSleep},
    Command{"Disabled", L"-start", kDisabled, {}, nullptr, kStarting +
            L"The service is disabled. Use -remove and then -start to solve this.\n", true,
            kNoSleep},
    Command{"StartFails", L"-start", kStopped, {}, Fail("StartServiceW", 5),
            kStarting + L"StartService failed with " + kDenied, true, kNoSleep},
    Command{"ManagerNotOpened", L"-start", kMissing, {}, Fail("OpenSCManagerW", 5),
            L"OpenSCManager failed with " + kDenied, false, kNoSleep},
    Command{"ServiceNotOpened", L"-start", kStopped, {}, Fail("OpenServiceW", 5),
            L"OpenService failed with " + kDenied, true, kNoSleep},
    Command{"MissingInstalledOnce", L"-start", kMissing, {}, nullptr,
            kNotice + L"Dovrand Service installed.\n" + kStarting + L"started\n", true, kNoSleep},
    Command{"MissingInstallFails", L"-start", kMissing, {},
            [](ControlTest& t) { t.registry.script().Fail("RegOpenKeyExW", 5); },
            kNotice + L"Dovrand Service installed.\nUnable to register the service in Event Log "
            L"(Access is denied. (0x5))\n", true, kNoSleep},
    // Still not found after the install: no second install.
    Command{"MissingAfterInstall", L"-start", kMissing, {}, Fail("OpenServiceW", 1060, 2),
            kNotice + L"Dovrand Service installed.\nOpenService failed with The specified "
            L"service does not exist as an installed service. (0x424)\n", true, kNoSleep}), kName);
// clang-format on

TEST(StartTest, InstallsOnceAndStartsNothingWhenTheInstallFails) {
    ControlTest t;
    t.registry.script().Fail("RegOpenKeyExW", 5);
    t.Run({L"-start"});
    EXPECT_EQ(t.services.script().Calls("CreateServiceW"), 1);
    EXPECT_EQ(t.services.script().Calls("StartServiceW"), 0);
}

}  // namespace
}  // namespace control_test
