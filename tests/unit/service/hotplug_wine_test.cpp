// The loader service on the Windows build's own adapters (under Wine: the real SetupAPI, registry,
// serial port, events and priorities), driven through its control handler as the dispatcher
// would, with a real DEV_BROADCAST_DEVICEINTERFACE_W record. tests/wine/service/hotplug_test.py
// registers the card's port in the registry, plays the card with cardsim behind that COM port and
// names the log folder in DOVRAND_SERVICE_HOTPLUG_LOG; without it the test is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log/start_keys.h"
#include "platform/fake/service_host_fake.h"
#include "platform/platform.h"
#include "service/dovrand_service.h"
#include "service/service_rig.h"
#include "support/log_capture.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#endif

namespace service_test {
namespace {

#ifdef _WIN32

// The record the system sends with an arrival of the interface, built from the Windows headers.
std::vector<uint8_t> SystemBroadcastRecord(const std::wstring& path) {
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> bytes(size, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = {
        0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
    std::memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return bytes;
}

class LogFile {
  public:
    explicit LogFile(std::string path) : path_(std::move(path)) {}

    std::vector<std::wstring> Lines() {
        LogFlush(false);
        std::ifstream in(path_, std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        return LogLines(DecodeUtf16Le(bytes, 2));
    }

    // Blocks until the line has been written `count` times (at most 60 s).
    bool Await(const std::wstring& line, int count = 1) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::vector<std::wstring> lines = Lines();
            if (std::count(lines.begin(), lines.end(), line) >= count) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

  private:
    std::string path_;
};

TEST(ServiceHotplugWine, ArrivalLoadsTheCardAndSuspendCancelsTheNextLoad) {
    const char* folder = std::getenv("DOVRAND_SERVICE_HOTPLUG_LOG");
    if (folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "run by tests/wine/service/hotplug_test.py";
    }
    platform::fake::FakeServiceHost host;  // no service manager runs this test program
    platform::Platform p = platform::Native();
    p.serviceHost = &host;
    platform::ScopedPlatform use(p);
    cDovrandService service;
    cWindowsService* previous = cWindowsService::Instance();
    cWindowsService::SetInstance(&service);
    SetLogEnabled(true);
    const std::string directory(folder);
    std::wstring wide(directory.begin(), directory.end());
    wide.copy(LogDirectory(), kLogDirectoryChars - 1);
    LogFile log(directory + "\\Dovrand.log");

    std::thread serviceThread([] { cWindowsService::ServiceMain(0, nullptr); });
    ASSERT_TRUE(host.AwaitState(service_state::kRunning, 60000));
    ASSERT_TRUE(log.Await(L"Service successfully started!"));

    // The first arrival loads the card.
    std::vector<uint8_t> record = SystemBroadcastRecord(kDownloadPath);
    EXPECT_EQ(host.Send(service_control::kDeviceEvent, DBT_DEVICEARRIVAL, record.data()), 0u);
    EXPECT_TRUE(log.Await(L"Firmware loading completed!"));

    // The second one starts a load that the card stalls in AMSS; a suspend cancels it, and the
    // attempt goes on to its wait, which the stop ends.
    EXPECT_EQ(host.Send(service_control::kDeviceEvent, DBT_DEVICEARRIVAL, record.data()), 0u);
    EXPECT_TRUE(log.Await(L"Sending AMSS...", 2));
    EXPECT_EQ(host.Send(service_control::kPowerEvent, PBT_APMSUSPEND), 0u);
    const std::wstring waiting =
        L"Error occured while loading of firmware. Waiting 30 seconds to retry...";
    EXPECT_TRUE(log.Await(waiting));
    host.Send(service_control::kStop);
    serviceThread.join();
    cWindowsService::SetInstance(previous);
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';

    const std::vector<std::wstring> lines = log.Lines();
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
                                   L"SerialPort.Send: Operation cancelled.",
                                   L"...",
                                   waiting,
                                   L"Stop signal received.",
                                   L"Stopping service...",
                                   L"Service stopped."}))
        << testing::PrintToString(lines);
    const platform::ServiceStatus end = host.reports().back();
    EXPECT_EQ(end.currentState, service_state::kStopped);
    EXPECT_EQ(end.win32ExitCode, 0u);
}

#endif

}  // namespace
}  // namespace service_test
