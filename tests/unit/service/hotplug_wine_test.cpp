// The loader service on the Windows build's own adapters (under Wine: the real SetupAPI, registry,
// serial port, events and priorities), driven through its control handler as the dispatcher
// would, with a real DEV_BROADCAST_DEVICEINTERFACE_W record. tests/wine/service/hotplug_test.py
// registers the card's port in the registry, plays the card with cardsim behind that COM port and
// names the log folder in DOVRAND_SERVICE_HOTPLUG_LOG; without it the test is skipped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/native_service.h"
#include "service/service_rig.h"

namespace service_test {
namespace {

#ifdef _WIN32

TEST(ServiceHotplugWine, ArrivalLoadsTheCardAndSuspendCancelsTheNextLoad) {
    if (NativeService::LogFolder() == nullptr) {
        GTEST_SKIP() << "run by tests/wine/service/hotplug_test.py";
    }
    NativeService run;
    run.Start();
    ASSERT_TRUE(run.host.AwaitState(kRunning, 60000));
    ASSERT_TRUE(run.AwaitLine(L"Service successfully started!"));

    // The first arrival loads the card.
    std::vector<uint8_t> record = SystemBroadcastRecord(kDownloadPath);
    EXPECT_EQ(run.Send(service_control::kDeviceEvent, kArrival, record.data()), 0u);
    EXPECT_TRUE(run.AwaitLine(L"Firmware loading completed!"));

    // The second one starts a load that the card stalls in AMSS; a suspend cancels it, and the
    // attempt goes on to its wait, which the stop ends. The cancel ends the first wait on the
    // port that finds no I/O done: the few short exchanges before the stalled block may still
    // pass, depending on where the load is when the suspend comes.
    EXPECT_EQ(run.Send(service_control::kDeviceEvent, kArrival, record.data()), 0u);
    EXPECT_TRUE(run.AwaitLine(L"Sending AMSS...", 2));
    EXPECT_EQ(run.Send(service_control::kPowerEvent, kSuspend), 0u);
    const std::wstring waiting =
        L"Error occured while loading of firmware. Waiting 30 seconds to retry...";
    EXPECT_TRUE(run.AwaitLine(waiting));
    run.Send(service_control::kStop);
    run.Join();

    const std::vector<std::wstring> lines = run.Lines();
    const std::wstring arrived = L"New Gobi 1000/2000 device arrived. Loading Firmware...";
    EXPECT_TRUE(LinesMatch(lines, {L"...",
                                   L"Initializing service...",
                                   L"...",
                                   L"No Qualcomm Gobi devices found.",
                                   L"Service successfully started!",
                                   L"DBT_DEVICEARRIVAL",
                                   arrived,
                                   L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
                                   L"...",
                                   L"Firmware loading completed!",
                                   L"DBT_DEVICEARRIVAL",
                                   arrived,
                                   L"...",
                                   L"Sending AMSS...",
                                   L"...",
                                   L"PBT_APMSUSPEND",
                                   L"...",
                                   L"SerialPort.Send: Operation cancelled.",
                                   L"...",
                                   waiting,
                                   L"Stop signal received.",
                                   L"Stopping service...",
                                   L"Service stopped."}))
        << Shown(lines);
    const platform::ServiceStatus end = run.host.reports().back();
    EXPECT_EQ(end.currentState, kStopped);
    EXPECT_EQ(end.win32ExitCode, 0u);
}

#endif

}  // namespace
}  // namespace service_test
