// The loader service's device and power events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/device_match.h"
#include "fakes/sync_fake.h"
#include "log/log.h"
#include "service/service_rig.h"
#include "support/log_capture.h"

namespace service_test {
namespace {

// The loader service with its new-device event made, as Run makes it.
class EventService : public cDovrandService {
  public:
    EventService() {
        platform::ErrorCode error = 0;
        EXPECT_TRUE(CreateNewDeviceEvent(&error));
    }
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

}  // namespace
}  // namespace service_test
