// The loader service's run: what its start finds, the tries and waits of a load attempt with
// stops and suspends in between, arrivals that wake attempts, and races of controls with the
// attempt (run under ThreadSanitizer on the host).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "fakes/serial_fake.h"
#include "service/service_rig.h"

namespace service_test {
namespace {

using Lines = std::vector<std::wstring>;

Lines Concat(std::vector<Lines> parts) {
    Lines all;
    for (Lines& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

struct RunCase {
    const char* name;
    std::function<void(ServiceRig&)> before;  // before the start
    std::function<void(ServiceRig&)> drive;   // after the start, up to the stop control
    Lines lines;                              // the whole log; "..." stands for any lines
    int tries;                                // tries of LoadToPort, each with raised priorities
    int searches;                             // enumerations of the present interfaces
    bool noHandle = false;  // the registration fails with no handle and no error code
};

// Registrations that fail as RegisterDeviceNotificationW may: no handle, and a last error of 0.
class NotificationsWithoutHandle : public platform::fake::FakeDeviceNotifications {
  public:
    platform::ErrorCode Register(platform::StatusHandle, const platform::DeviceInterfaceFilter&,
                                 uint32_t, platform::NotificationHandle*) override {
        script().Check("RegisterDeviceNotificationW");
        return 0;
    }
};

class ServiceRunTest : public testing::TestWithParam<RunCase> {};

TEST_P(ServiceRunTest, LinesTriesAndSearches) {
    const RunCase& c = GetParam();
    ServiceRig rig;
    NotificationsWithoutHandle withoutHandle;
    platform::fake::FakeDeviceNotifications& notifications =
        c.noHandle ? withoutHandle : rig.notifications;
    platform::Platform p = platform::Get();
    p.notifications = &notifications;
    platform::ScopedPlatform use(p);
    if (c.before) {
        c.before(rig);
    }
    rig.Start();
    c.drive(rig);
    rig.Join();
    const Lines lines = rig.LogLines();
    EXPECT_TRUE(LinesMatch(lines, c.lines)) << Shown(lines);
    std::vector<std::string> priorities;
    for (int i = 0; i < c.tries; ++i) {
        priorities.insert(priorities.end(),
                          {"GetPriorityClass", "SetPriorityClass 0x8000", "GetThreadPriority",
                           "SetThreadPriority 2", "SetThreadPriority 0", "SetPriorityClass 0x20"});
    }
    EXPECT_EQ(rig.process.priority_calls(), priorities);
    EXPECT_EQ(rig.devices.script().Calls("SetupDiGetClassDevsW"), c.searches);
    // One registration for arrivals of COM-port interfaces, to the service's status handle,
    // undone when the run ends.
    EXPECT_EQ(notifications.script().Calls("RegisterDeviceNotificationW"), 1);
    std::vector<platform::NotificationHandle> registered;
    for (const platform::fake::FakeRegistration& r : notifications.registrations()) {
        EXPECT_EQ(r.recipient, platform::fake::FakeServiceHost::kHandle);
        EXPECT_EQ(r.flags, 1u);  // DEVICE_NOTIFY_SERVICE_HANDLE
        EXPECT_EQ(r.filter.size, 32u);
        EXPECT_EQ(r.filter.deviceType, 5u);
        EXPECT_EQ(r.filter.reserved, 0u);
        // GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}
        EXPECT_EQ(r.filter.classGuid.data1, 0x86E0D1E0u);
        EXPECT_EQ(r.filter.classGuid.data2, 0x8089u);
        EXPECT_EQ(r.filter.classGuid.data3, 0x11D0u);
        const uint8_t data4[8] = {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73};
        EXPECT_EQ(std::memcmp(r.filter.classGuid.data4, data4, 8), 0);
        registered.push_back(r.handle);
    }
    // Only a registration that was made is undone.
    EXPECT_EQ(notifications.unregistered(), registered);
}

void StopWhenRunning(ServiceRig& rig) {
    ASSERT_TRUE(rig.AwaitRunning());
    rig.Send(service_control::kStop);
}

void Arrive(ServiceRig& rig, const std::wstring& path) {
    std::vector<uint8_t> record = BroadcastRecord(path);
    EXPECT_EQ(rig.Send(service_control::kDeviceEvent, 0x8000, record.data()), 0u);
}

void CardWithoutPort(ServiceRig& rig) {
    rig.AddCard();
    rig.serial.state().script().Fail("Open", 2, -1);
}

// A card whose answer to the initial message never comes: the read waits for the cancel. With
// a driver that never ends the cancelled read, when told so.
void SilentCardWith(ServiceRig& rig, bool endsOnCancel) {
    rig.AddCard();
    platform::fake::FakeIo blocked;
    blocked.start = platform::fake::FakeIo::Start::kPending;
    blocked.wait = platform::fake::FakeIo::Wait::kBlock;
    blocked.endsOnCancel = endsOnCancel;
    rig.serial.state().ScriptRead(blocked);
}

void SilentCard(ServiceRig& rig) {
    SilentCardWith(rig, true);
}

// Sends a control from the try's first priority change, on the service thread: after the
// attempt's last look at the stop event and before the try's port is current, where a cancel
// finds no port to signal.
void ControlAtTheTrysStart(ServiceRig& rig, uint32_t control, uint32_t eventType) {
    auto sent = std::make_shared<std::atomic<bool>>(false);
    rig.process.script().OnCall("SetPriorityClass", [&rig, control, eventType, sent] {
        if (!sent->exchange(true)) {
            rig.Send(control, eventType);
        }
    });
}

const std::wstring kStarted = L"Service successfully started!";
const Lines kStop = {L"Stop signal received.", L"Stopping service...", L"Service stopped."};
const std::wstring kArrived = L"New Gobi 1000/2000 device arrived. Loading Firmware...";
const std::wstring kOpened = L"Port COM7\\QDLService is opened.";
const std::wstring kLoaded = L"Firmware loading completed!";
const Lines kNoPort = {
    L"cSerialPort.Open: Unable to open port \\\\.\\COM7\\QDLService. ErrorCode: 2",
    L"Unable to open port: COM7"};
const Lines kCancelled = {L"SerialPort.Receive: Operation cancelled.",
                          L"Error receiving answer for initial message."};
const Lines kCancelledAtOnce = {kOpened, L"SerialPort.Send: Operation cancelled.",
                                L"Error sending initial message."};
const std::wstring kWaiting =
    L"Error occured while loading of firmware. Waiting 30 seconds to retry...";
const Lines kStart = Concat({{L"Initializing service..."}, PreparedLines()});
const Lines kIdle = {L"Initializing service...", L"No Qualcomm Gobi devices found.", kStarted};

Lines Retry(int attempt) {
    return Concat({kNoPort,
                   {kWaiting, L"Trying to load firmware again (attempt " +
                                  std::to_wstring(attempt) + L")."}});
}

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
                StopWhenRunning,
                Concat({{L"Initializing service...",
                         L"Service \"Lenovo Gobi 2000 Loader\" stopped and disabled.",
                         L"No Qualcomm Gobi devices found.", kStarted},
                        kStop}),
                0, 1},
        RunCase{"NotificationsNotRegistered",
                [](ServiceRig& rig) {
                    rig.notifications.script().Fail("RegisterDeviceNotificationW", 5);
                },
                StopWhenRunning,
                Concat({{L"Initializing service...",
                         L"RegisterDeviceNotification returned: Access is denied. (0x5)"},
                        {L"No Qualcomm Gobi devices found.", kStarted},
                        kStop}),
                0, 1},
        RunCase{
            "NotificationsNotRegisteredWithoutACode",
            [](ServiceRig& rig) { rig.text.Add(0, L"The operation completed successfully.\r\n"); },
            StopWhenRunning,
            Concat({{L"Initializing service...",
                     L"RegisterDeviceNotification returned: The operation completed "
                     L"successfully. (0x0)"},
                    {L"No Qualcomm Gobi devices found.", kStarted},
                    kStop}),
            0, 1, true},
        RunCase{"ModemModeCardAtStart", [](ServiceRig& rig) { rig.AddCard(kModemPath); },
                StopWhenRunning,
                Concat({{L"Initializing service...",
                         L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
                         L"Firmware is already loaded.", kStarted},
                        kStop}),
                0, 1},
        RunCase{"CardWaitingAtStart",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                },
                StopWhenRunning, Concat({kStart, {kOpened, L"...", kLoaded, kStarted}, kStop}), 1,
                1},
        RunCase{"NoPreferenceSkipsTheCardsPreference",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                    rig.service.SetNoPreference(true);
                },
                StopWhenRunning,
                Concat({kStart,
                        {kOpened, L"Initial Message - OK", L"Gobi firmware preference skipped.",
                         L"...", kLoaded, kStarted},
                        kStop}),
                1, 1},
        RunCase{"FiveTriesFourWaits",
                [](ServiceRig& rig) {
                    CardWithoutPort(rig);
                    rig.sync.ExpireHeldWaits(4);
                },
                StopWhenRunning,
                Concat({kStart,
                        Retry(2),
                        Retry(3),
                        Retry(4),
                        Retry(5),
                        kNoPort,
                        {L"Unable to load firmware to this Gobi WWAN Card :-(", kStarted},
                        kStop}),
                5, 1},
        RunCase{"StopDuringAWaitEndsTheAttempt",
                [](ServiceRig& rig) {
                    CardWithoutPort(rig);
                    rig.sync.ExpireHeldWaits(1);
                },
                [](ServiceRig& rig) {
                    ASSERT_TRUE(rig.sync.AwaitHeldWaits(2, ServiceRig::kRealTimeoutMs));
                    rig.Send(service_control::kStop);
                },
                Concat({kStart,
                        Retry(2),
                        kNoPort,
                        {kWaiting, L"Stop signal received.", kStarted, L"Stopping service...",
                         L"Service stopped."}}),
                2, 1},
        RunCase{"StopWhileTheAttemptGetsReadyEndsIt",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.devices.script().OnCall("SetupDiGetClassDevsW",
                                                [&rig] { rig.Send(service_control::kStop); });
                },
                [](ServiceRig&) {},
                Concat({{L"Initializing service...", L"Stop signal received."},
                        PreparedLines(),
                        {L"Service successfully started!", L"Stopping service...",
                         L"Service stopped."}}),
                0, 1},
        // The stop finds no port yet; the try's port starts cancelled, instead of a whole load.
        RunCase{"StopBeforeTheTrysPortIsCurrentCancelsTheTry",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                    ControlAtTheTrysStart(rig, 1, 0);
                },
                [](ServiceRig&) {},
                Concat({kStart,
                        {L"Stop signal received."},
                        kCancelledAtOnce,
                        {kWaiting, kStarted, L"Stopping service...", L"Service stopped."}}),
                1, 1},
        RunCase{"SuspendBeforeTheTrysPortIsCurrentCancelsTheTry",
                [](ServiceRig& rig) {
                    rig.AddCard();
                    rig.ScriptLoad();
                    rig.sync.ExpireHeldWaits(1);
                    ControlAtTheTrysStart(rig, 13, 4);
                },
                StopWhenRunning,
                Concat({kStart,
                        {L"PBT_APMSUSPEND"},
                        kCancelledAtOnce,
                        {kWaiting, L"Trying to load firmware again (attempt 2).", kOpened, L"...",
                         kLoaded, kStarted},
                        kStop}),
                2, 1},
        RunCase{"StopDuringTheFirstTryCancelsIt", SilentCard,
                [](ServiceRig& rig) {
                    ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
                    rig.Send(service_control::kStop);
                },
                Concat({kStart,
                        {kOpened, L"Stop signal received."},
                        kCancelled,
                        {kWaiting, kStarted, L"Stopping service...", L"Service stopped."}}),
                1, 1},
        // The bounded wait for the cancelled read's end lets the stop reach STOPPED.
        RunCase{
            "StopDuringATryWhoseReadNeverEnds", [](ServiceRig& rig) { SilentCardWith(rig, false); },
            [](ServiceRig& rig) {
                ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
                rig.Send(service_control::kStop);
            },
            Concat({kStart,
                    {kOpened, L"Stop signal received.", L"SerialPort.Receive: Operation cancelled.",
                     L"SerialPort: The cancelled operation has not ended; the port is given up.",
                     L"Error receiving answer for initial message."},
                    {kWaiting, kStarted, L"Stopping service...", L"Service stopped."}}),
            1, 1},
        RunCase{"SuspendCancelsTheTryAndTheAttemptGoesOn",
                [](ServiceRig& rig) {
                    SilentCard(rig);
                    rig.ScriptLoad();
                    rig.sync.ExpireHeldWaits(1);
                },
                [](ServiceRig& rig) {
                    ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
                    rig.Send(service_control::kPowerEvent, 4);
                    StopWhenRunning(rig);
                },
                Concat({kStart,
                        {kOpened, L"PBT_APMSUSPEND"},
                        kCancelled,
                        {kWaiting, L"Trying to load firmware again (attempt 2).", kOpened, L"...",
                         kLoaded, kStarted},
                        kStop}),
                2, 1},
        RunCase{"ArrivalWakesOneAttempt", nullptr,
                [](ServiceRig& rig) {
                    ASSERT_TRUE(rig.AwaitRunning());
                    rig.AddCard();
                    rig.ScriptLoad();
                    Arrive(rig, kDownloadPath);
                    ASSERT_TRUE(rig.AwaitLine(kLoaded));
                    rig.Send(service_control::kStop);
                },
                Concat({kIdle,
                        {L"DBT_DEVICEARRIVAL", kArrived},
                        PreparedLines(),
                        {kOpened, L"...", kLoaded},
                        kStop}),
                1, 1},
        RunCase{"TwoArrivalsDuringAnAttemptGiveOneMore", nullptr,
                [](ServiceRig& rig) {
                    ASSERT_TRUE(rig.AwaitRunning());
                    rig.AddCard();
                    rig.serial.state().script().Fail("Open", 2);  // the first try only
                    rig.ScriptLoad();
                    rig.ScriptLoad();
                    Arrive(rig, kDownloadPath);
                    ASSERT_TRUE(rig.sync.AwaitHeldWaits(1, ServiceRig::kRealTimeoutMs));
                    Arrive(rig, kDownloadPath);
                    Arrive(rig, kDownloadPath);
                    rig.sync.ExpireHeldWaits(1);
                    ASSERT_TRUE(rig.AwaitLine(kLoaded, 2));
                    rig.Send(service_control::kStop);
                },
                Concat({kIdle,
                        {L"DBT_DEVICEARRIVAL", kArrived},
                        PreparedLines(),
                        {L"...", L"DBT_DEVICEARRIVAL", L"DBT_DEVICEARRIVAL",
                         L"Trying to load firmware again (attempt 2).", L"...", kLoaded, kArrived,
                         L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.", L"...", kLoaded},
                        kStop}),
                3, 1}),
    [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// Arrivals, suspends and resumes from the dispatcher thread while the service thread loads, then a
// stop: the service always reaches STOPPED, and ThreadSanitizer sees no race on the remembered
// device, the events or the current port.
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
