// The loader service: device and power events, load attempts with their tries and waits, the
// chip maker's loader services.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "discovery/device_match.h"
#include "download/load_to_port_test_card.h"
#include "log/log.h"
#include "platform/fake/serial_fake.h"
#include "platform/fake/service_manager_fake.h"
#include "platform/fake/sync_fake.h"
#include "service/service_rig.h"
#include "support/log_capture.h"

namespace service_test {
namespace {

// The loader service with its new-device event made, as Run makes it.
class EventService : public cDovrandService {
  public:
    EventService() { EXPECT_EQ(CreateNewDeviceEvent(), 0u); }
    bool Woken() { return platform::fake::IsSet(NewDeviceEvent()); }
};

enum class Remembered { kNone, kDownload, kModem };

Remembered Kind(const DeviceMatch& device) {
    return device.Reference == kNoDevice ? Remembered::kNone
           : device.Reference < 0        ? Remembered::kDownload
                                         : Remembered::kModem;
}

struct ControlCase {
    const char* name;
    uint32_t control;
    uint32_t eventType;
    const std::wstring* path;  // the arrival's interface, null for no event data
    uint32_t result;
    std::vector<std::wstring> lines;
    Remembered remembered;  // the modem-mode card is remembered before the control
    bool woken;
};

class OnControlTest : public testing::TestWithParam<ControlCase> {};

TEST_P(OnControlTest, LinesRecordAndWake) {
    const ControlCase& c = GetParam();
    platform::fake::FakeSync sync;
    platform::Platform p = platform::Get();
    p.sync = &sync;
    platform::ScopedPlatform use(p);
    LogCapture log;
    EventService service;
    std::vector<uint8_t> modem = BroadcastRecord(kModemPath);
    service.OnControl(11, 0x8000, modem.data(), &service);
    std::vector<uint8_t> record;
    if (c.path != nullptr) {
        record = BroadcastRecord(*c.path);
    }

    EXPECT_EQ(service.OnControl(c.control, c.eventType, c.path ? record.data() : nullptr, &service),
              c.result);
    std::vector<std::wstring> lines = log.Lines();
    lines.erase(lines.begin());  // the modem-mode arrival
    EXPECT_EQ(lines, c.lines);
    EXPECT_EQ(Kind(service.RememberedDevice()), c.remembered);
    EXPECT_EQ(service.Woken(), c.woken);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OnControlTest,
    testing::Values(
        ControlCase{"DownloadModeArrival",
                    11,
                    0x8000,
                    &kDownloadPath,
                    0,
                    {L"DBT_DEVICEARRIVAL"},
                    Remembered::kDownload,
                    true},
        ControlCase{"ModemModeArrival",
                    11,
                    0x8000,
                    &kModemPath,
                    0,
                    {L"DBT_DEVICEARRIVAL"},
                    Remembered::kModem,
                    false},
        ControlCase{"ForeignPortArrival",
                    11,
                    0x8000,
                    &kForeignPath,
                    0,
                    {L"DBT_DEVICEARRIVAL"},
                    Remembered::kModem,
                    false},
        ControlCase{"ArrivalWithoutRecord",
                    11,
                    0x8000,
                    nullptr,
                    0,
                    {L"DBT_DEVICEARRIVAL"},
                    Remembered::kModem,
                    false},
        ControlCase{"Removal",
                    11,
                    0x8004,
                    &kDownloadPath,
                    0,
                    {L"DBT_DEVICEREMOVECOMPLETE"},
                    Remembered::kModem,
                    false},
        ControlCase{
            "OtherDeviceEvent", 11, 0x8006, &kDownloadPath, 0, {}, Remembered::kModem, false},
        ControlCase{"Suspend", 13, 4, nullptr, 0, {L"PBT_APMSUSPEND"}, Remembered::kModem, false},
        ControlCase{"ResumeCritical",
                    13,
                    6,
                    nullptr,
                    0,
                    {L"PBT_APMRESUMECRITICAL"},
                    Remembered::kNone,
                    false},
        ControlCase{"ResumeSuspend",
                    13,
                    7,
                    nullptr,
                    0,
                    {L"PBT_APMRESUMESUSPEND"},
                    Remembered::kNone,
                    false},
        ControlCase{"ResumeAutomatic",
                    13,
                    18,
                    nullptr,
                    0,
                    {L"PBT_APMRESUMEAUTOMATIC"},
                    Remembered::kNone,
                    false},
        ControlCase{"QuerySuspend", 13, 0, nullptr, 0, {}, Remembered::kModem, false},
        ControlCase{"UserControl128", 128, 0, nullptr, 120, {}, Remembered::kModem, false},
        ControlCase{"UserControl255", 255, 0, nullptr, 120, {}, Remembered::kModem, false},
        ControlCase{"Pause", 2, 0, nullptr, 120, {}, Remembered::kModem, false}),
    [](const testing::TestParamInfo<ControlCase>& info) { return info.param.name; });

// The lines of the start-time attempt's tries, between the card's lines and RUNNING.
struct RetryCase {
    const char* name;
    std::function<void(ServiceRig&)> before;  // before Start
    std::function<void(ServiceRig&)> drive;   // after Start, until the service is stopped
    int tries;                                // tries made, each with raised priorities
    std::vector<std::wstring> lines;          // from the first try on; "..." stands for any lines
    std::vector<uint32_t> laterStates;        // the states reported after the start's six reports
};

class RetryTest : public testing::TestWithParam<RetryCase> {};

TEST_P(RetryTest, TriesWaitsAndLines) {
    const RetryCase& c = GetParam();
    ServiceRig rig;
    rig.AddCard();
    c.before(rig);
    rig.Start();
    c.drive(rig);
    rig.Join();

    std::vector<std::wstring> lines = rig.LogLines();
    ASSERT_GE(lines.size(), 1 + kPreparedLines.size());
    EXPECT_EQ(
        std::vector<std::wstring>(lines.begin() + 1, lines.begin() + 1 + kPreparedLines.size()),
        kPreparedLines);
    const std::vector<std::wstring> tries(lines.begin() + 1 + kPreparedLines.size(), lines.end());
    EXPECT_TRUE(LinesMatch(tries, c.lines)) << testing::PrintToString(tries);
    std::vector<std::string> priorities;
    for (int i = 0; i < c.tries; ++i) {
        priorities.insert(priorities.end(),
                          {"GetPriorityClass", "SetPriorityClass 0x8000", "GetThreadPriority",
                           "SetThreadPriority 2", "SetThreadPriority 0", "SetPriorityClass 0x20"});
    }
    EXPECT_EQ(rig.process.priority_calls(), priorities);
    std::vector<uint32_t> states;
    for (size_t i = 6; i < rig.Reports().size(); ++i) {
        states.push_back(rig.Reports()[i].state);
    }
    EXPECT_EQ(states, c.laterStates);
}

void OpenFails(ServiceRig& rig) {
    rig.serial.state().script().Fail("Open", 2, -1);
}

// A read of the card's answer that blocks until the port is cancelled.
void BlockFirstRead(ServiceRig& rig) {
    platform::fake::FakeIo blocked;
    blocked.start = platform::fake::FakeIo::Start::kPending;
    blocked.wait = platform::fake::FakeIo::Wait::kBlock;
    rig.serial.state().ScriptRead(blocked);
}

const std::wstring kOpenFailed[] = {
    L"cSerialPort.Open: Unable to open port \\\\.\\COM7\\QDLService. ErrorCode: 2",
    L"Unable to open port: COM7"};
const std::wstring kCancelled[] = {L"SerialPort.Receive: Operation cancelled.",
                                   L"Error receiving answer for initial message."};
const std::wstring kWaiting =
    L"Error occured while loading of firmware. Waiting 30 seconds to retry...";
const std::vector<std::wstring> kStopLines = {L"Stop signal received.", L"Stopping service...",
                                              L"Service stopped."};

std::vector<std::wstring> Join(std::vector<std::vector<std::wstring>> parts) {
    std::vector<std::wstring> all;
    for (auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RetryTest,
    testing::Values(
        RetryCase{"FiveTriesFourWaits",
                  OpenFails,
                  [](ServiceRig& rig) {
                      rig.sync.ExpireHeldWaits(4);
                      ASSERT_TRUE(rig.AwaitRunning());
                      rig.Send(service_control::kStop);
                  },
                  5,
                  Join({{kOpenFailed[0],
                         kOpenFailed[1],
                         kWaiting,
                         L"Trying to load firmware again (attempt 2).",
                         kOpenFailed[0],
                         kOpenFailed[1],
                         kWaiting,
                         L"Trying to load firmware again (attempt 3).",
                         kOpenFailed[0],
                         kOpenFailed[1],
                         kWaiting,
                         L"Trying to load firmware again (attempt 4).",
                         kOpenFailed[0],
                         kOpenFailed[1],
                         kWaiting,
                         L"Trying to load firmware again (attempt 5).",
                         kOpenFailed[0],
                         kOpenFailed[1],
                         L"Unable to load firmware to this Gobi WWAN Card :-(",
                         L"Service successfully started!"},
                        kStopLines}),
                  {kRunning, kStopPending, kStopPending, kStopped}},
        RetryCase{"StopDuringWait",
                  OpenFails,
                  [](ServiceRig& rig) {
                      rig.sync.ExpireHeldWaits(1);
                      ASSERT_TRUE(rig.sync.AwaitHeldWaits(2, ServiceRig::kRealTimeoutMs));
                      rig.Send(service_control::kStop);
                  },
                  2,
                  {kOpenFailed[0], kOpenFailed[1], kWaiting,
                   L"Trying to load firmware again (attempt 2).", kOpenFailed[0], kOpenFailed[1],
                   kWaiting, L"Stop signal received.", L"Service successfully started!",
                   L"Stopping service...", L"Service stopped."},
                  {kStopPending, kRunning, kStopPending, kStopped}},
        RetryCase{"StopDuringFirstTry",
                  BlockFirstRead,
                  [](ServiceRig& rig) {
                      ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
                      rig.Send(service_control::kStop);
                  },
                  1,
                  {L"Port COM7\\QDLService is opened.", L"Stop signal received.", kCancelled[0],
                   kCancelled[1], kWaiting, L"Service successfully started!",
                   L"Stopping service...", L"Service stopped."},
                  {kStopPending, kRunning, kStopPending, kStopped}},
        RetryCase{"SuspendDuringTry",
                  [](ServiceRig& rig) {
                      BlockFirstRead(rig);
                      rig.ScriptLoad();
                  },
                  [](ServiceRig& rig) {
                      ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
                      rig.Send(service_control::kPowerEvent, 4);
                      rig.sync.ExpireHeldWaits(1);
                      ASSERT_TRUE(rig.AwaitRunning());
                      rig.Send(service_control::kStop);
                  },
                  2,
                  {L"Port COM7\\QDLService is opened.", L"PBT_APMSUSPEND", kCancelled[0],
                   kCancelled[1], kWaiting, L"Trying to load firmware again (attempt 2).",
                   L"Port COM7\\QDLService is opened.", L"Initial Message - OK", L"...",
                   L"Service successfully started!", L"Stop signal received.",
                   L"Stopping service...", L"Service stopped."},
                  {kRunning, kStopPending, kStopPending, kStopped}}),
    [](const testing::TestParamInfo<RetryCase>& info) { return info.param.name; });

}  // namespace
}  // namespace service_test
