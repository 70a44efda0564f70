// The loader service's run: what its start finds, arrivals that wake load attempts, and races of
// controls with the attempt (run under ThreadSanitizer on the host).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "service/service_rig.h"

namespace service_test {
namespace {

const std::wstring kLoaded = L"Firmware loading completed!";

std::vector<std::wstring> Concat(std::vector<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct RunCase {
    const char* name;
    std::function<void(ServiceRig&)> before;  // before the start
    std::function<void(ServiceRig&)> drive;   // once the service runs, until it may be stopped
    std::vector<std::wstring> lines;
    int searches;  // enumerations of the present interfaces
    int ports;     // ports opened
};

class ServiceRunTest : public testing::TestWithParam<RunCase> {};

TEST_P(ServiceRunTest, Lines) {
    const RunCase& c = GetParam();
    ServiceRig rig;
    if (c.before) {
        c.before(rig);
    }
    rig.Start();
    ASSERT_TRUE(rig.AwaitRunning());
    if (c.drive) {
        c.drive(rig);
    }
    rig.Send(service_control::kStop);
    rig.Join();
    const std::vector<std::wstring> lines = rig.LogLines();
    EXPECT_TRUE(LinesMatch(lines, c.lines)) << testing::PrintToString(lines);
    EXPECT_EQ(rig.devices.script().Calls("SetupDiGetClassDevsW"), c.searches);
    EXPECT_EQ(rig.serial.state().opened_paths().size(), static_cast<size_t>(c.ports));
    EXPECT_EQ(rig.notifications.registrations().size(), 1u);
    EXPECT_EQ(rig.notifications.unregistered(), std::vector<platform::NotificationHandle>{1});
}

void Arrive(ServiceRig& rig, const std::wstring& path) {
    std::vector<uint8_t> record = BroadcastRecord(path);
    EXPECT_EQ(rig.Send(service_control::kDeviceEvent, 0x8000, record.data()), 0u);
}

const std::vector<std::wstring> kStopLines = {L"Stop signal received.", L"Stopping service...",
                                              L"Service stopped."};
const std::wstring kArrived = L"New Gobi 1000/2000 device arrived. Loading Firmware...";

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceRunTest,
    testing::Values(
        RunCase{"LoaderServiceDisabledAtStart",
                [](ServiceRig& rig) {
                    platform::fake::FakeService loader;
                    loader.serviceName = L"QDLService2kLenovo";
                    loader.displayName = L"Lenovo Gobi 2000 Loader";
                    loader.state = platform::service::kRunning;
                    rig.services.AddService(loader);
                },
                nullptr,
                Concat({{L"Initializing service...",
                         L"Service \"Lenovo Gobi 2000 Loader\" stopped and disabled.",
                         L"No Qualcomm Gobi devices found.", L"Service successfully started!"},
                        kStopLines}),
                1, 0},
        RunCase{"ModemModeCardAtStart", [](ServiceRig& rig) { rig.AddCard(kModemPath); }, nullptr,
                Concat({{L"Initializing service...",
                         L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
                         L"Firmware is already loaded.", L"Service successfully started!"},
                        kStopLines}),
                1, 0},
        RunCase{"CardWaitingAtStart",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                },
                nullptr,
                Concat({{L"Initializing service..."},
                        kPreparedLines,
                        {L"Port COM7\\QDLService is opened.", L"...", kLoaded,
                         L"Service successfully started!"},
                        kStopLines}),
                1, 1},
        RunCase{"NoPreferenceSkipsTheCardsPreference",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                    rig.service.SetNoPreference(true);
                },
                nullptr,
                Concat({{L"Initializing service..."},
                        kPreparedLines,
                        {L"Port COM7\\QDLService is opened.", L"Initial Message - OK",
                         L"Gobi firmware preference skipped.", L"...", kLoaded,
                         L"Service successfully started!"},
                        kStopLines}),
                1, 1},
        RunCase{"ArrivalWakesOneAttempt", nullptr,
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                    Arrive(rig, kDownloadPath);
                    ASSERT_TRUE(rig.AwaitLine(kLoaded));
                },
                Concat({{L"Initializing service...", L"No Qualcomm Gobi devices found.",
                         L"Service successfully started!", L"DBT_DEVICEARRIVAL", kArrived},
                        kPreparedLines,
                        {L"Port COM7\\QDLService is opened.", L"...", kLoaded},
                        kStopLines}),
                1, 1},
        RunCase{"TwoArrivalsDuringAnAttemptGiveOneMore", nullptr,
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.serial.state().script().Fail("Open", 2);
                    rig.ScriptLoad();
                    rig.ScriptLoad();
                    Arrive(rig, kDownloadPath);
                    ASSERT_TRUE(rig.sync.AwaitHeldWaits(1, ServiceRig::kRealTimeoutMs));
                    Arrive(rig, kDownloadPath);
                    Arrive(rig, kDownloadPath);
                    rig.sync.ExpireHeldWaits(1);
                    ASSERT_TRUE(rig.AwaitLine(kLoaded, 2));
                },
                Concat({{L"Initializing service...", L"No Qualcomm Gobi devices found.",
                         L"Service successfully started!", L"DBT_DEVICEARRIVAL", kArrived},
                        kPreparedLines,
                        {L"...", L"DBT_DEVICEARRIVAL", L"DBT_DEVICEARRIVAL",
                         L"Trying to load firmware again (attempt 2).", L"...", kLoaded, kArrived,
                         L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.", L"...", kLoaded},
                        kStopLines}),
                1, 3}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// Arrivals and suspends from the dispatcher thread while the service thread loads, then a stop:
// the service always reaches STOPPED, and ThreadSanitizer sees no race on the remembered device,
// the events or the current port.
struct RaceCase {
    const char* name;
    uint32_t control;
    uint32_t eventType;
};

class ServiceRaceTest : public testing::TestWithParam<RaceCase> {};

TEST_P(ServiceRaceTest, EndsStopped) {
    const RaceCase& c = GetParam();
    ServiceRig rig;
    rig.AddCard();
    for (int i = 0; i < 20; ++i) {
        rig.ScriptLoad();
    }
    rig.sync.ExpireHeldWaits(1000);
    rig.Start();
    std::vector<uint8_t> record = BroadcastRecord(kDownloadPath);
    for (int i = 0; i < 50; ++i) {
        rig.Send(c.control, c.eventType, record.data());
        std::this_thread::yield();
    }
    // Stop is accepted from the second report on.
    ASSERT_TRUE(rig.host.AwaitReports(2, ServiceRig::kRealTimeoutMs));
    rig.Send(service_control::kStop);
    rig.Join();
    EXPECT_EQ(rig.Reports().back().state, kStopped);
    EXPECT_EQ(rig.LogLines().back(), L"Service stopped.");
    EXPECT_EQ(rig.serial.state().open_devices(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ServiceRaceTest,
                         testing::Values(RaceCase{"Arrivals", 11, 0x8000},
                                         RaceCase{"Suspends", 13, 4}, RaceCase{"Resumes", 13, 7}),
                         [](const testing::TestParamInfo<RaceCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace service_test
