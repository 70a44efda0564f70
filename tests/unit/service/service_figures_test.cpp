// Figures of the service, a benchmark rather than a test: printed, never asserted. Skipped unless
// DOVRAND_SERVICE_FIGURES is set. On fakes (both builds): the time from the service thread's
// start to the RUNNING report with no card, and from a stop control during a download to the
// STOPPED report. Under Wine, tests/wine/service/hotplug_test.py --figures runs the Windows part
// on the real adapters against cardsim: the same two times and the processor time of 10 idle
// seconds.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "log/log.h"
#include "log/start_keys.h"
#include "platform/fake/serial_fake.h"
#include "platform/fake/service_host_fake.h"
#include "platform/platform.h"
#include "service/service_rig.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"

#include <dbt.h>

#include <cstddef>
#include <cstring>
#endif

namespace service_test {
namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void Print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("figure: %s: median %.3f ms, max %.3f ms (%zu runs)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
}

bool Wanted() {
    const char* wanted = std::getenv("DOVRAND_SERVICE_FIGURES");
    return wanted != nullptr && *wanted != '\0';
}

TEST(ServiceFigures, OnFakes) {
    if (!Wanted()) {
        GTEST_SKIP() << "set DOVRAND_SERVICE_FIGURES to measure";
    }
    std::vector<double> start;
    std::vector<double> stop;
    for (int run = 0; run < 50; ++run) {
        ServiceRig idle;  // no card
        Clock::time_point t0 = Clock::now();
        idle.Start();
        ASSERT_TRUE(idle.host.AwaitState(kRunning, ServiceRig::kRealTimeoutMs));
        start.push_back(Ms(Clock::now() - t0));
        idle.Send(service_control::kStop);
        idle.Join();
    }
    for (int run = 0; run < 50; ++run) {
        ServiceRig rig;
        rig.AddCard();
        platform::fake::FakeIo blocked;
        blocked.start = platform::fake::FakeIo::Start::kPending;
        blocked.wait = platform::fake::FakeIo::Wait::kBlock;
        rig.serial.state().ScriptRead(blocked);
        rig.Start();
        ASSERT_TRUE(rig.serial.state().AwaitBlockedWait(ServiceRig::kRealTimeoutMs));
        Clock::time_point t0 = Clock::now();
        rig.Send(service_control::kStop);
        ASSERT_TRUE(rig.host.AwaitState(kStopped, ServiceRig::kRealTimeoutMs));
        stop.push_back(Ms(Clock::now() - t0));
        rig.Join();
    }
    Print("fakes: service thread start to RUNNING, no card", start);
    Print("fakes: stop control during a download to STOPPED", stop);
}

#ifdef _WIN32

double ProcessorMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ticks = [](const FILETIME& t) {
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

bool AwaitLine(const std::string& path, const std::wstring& line) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
        LogFlush(false);
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file != nullptr) {
            std::vector<uint8_t> bytes;
            uint8_t chunk[4096];
            size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
            }
            std::fclose(file);
            std::wstring text;
            for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
                text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
            }
            if (text.find(line) != std::wstring::npos) {
                return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

TEST(ServiceFiguresWine, OnTheRealAdapters) {
    const char* folder = std::getenv("DOVRAND_SERVICE_HOTPLUG_LOG");
    if (!Wanted() || folder == nullptr || *folder == '\0') {
        GTEST_SKIP() << "run by tests/wine/service/hotplug_test.py --figures";
    }
    platform::fake::FakeServiceHost host;
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

    // The same 10 seconds without the service, for comparison: Wine's own threads of the process.
    const double quietStart = ProcessorMs();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double quiet = ProcessorMs() - quietStart;

    const Clock::time_point started = Clock::now();
    std::thread serviceThread([] { cWindowsService::ServiceMain(0, nullptr); });
    ASSERT_TRUE(host.AwaitState(service_state::kRunning, 60000));
    const double toRunning = Ms(Clock::now() - started);

    // Idle: the service thread sleeps in its wait, the log's writer in its own.
    const double before = ProcessorMs();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double idle = ProcessorMs() - before;

    std::vector<uint8_t> record(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                                (kDownloadPath.size() + 1) * sizeof(wchar_t));
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
    broadcast->dbcc_size = static_cast<DWORD>(record.size());
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(broadcast->dbcc_name, kDownloadPath.c_str(),
                (kDownloadPath.size() + 1) * sizeof(wchar_t));
    host.Send(service_control::kDeviceEvent, DBT_DEVICEARRIVAL, record.data());
    ASSERT_TRUE(AwaitLine(directory + "\\Dovrand.log", L"Sending AMSS..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the block write is pending
    const Clock::time_point stopped = Clock::now();
    host.Send(service_control::kStop);
    ASSERT_TRUE(host.AwaitState(service_state::kStopped, 60000));
    const double toStopped = Ms(Clock::now() - stopped);
    serviceThread.join();
    cWindowsService::SetInstance(previous);
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';

    std::printf("figure: Wine: service thread start to RUNNING, no card: %.3f ms\n", toRunning);
    std::printf(
        "figure: Wine: processor time of the process over 10 idle seconds: %.3f ms "
        "(%.3f ms over 10 seconds before the service started)\n",
        idle, quiet);
    std::printf("figure: Wine: stop control during a download to STOPPED: %.3f ms\n", toStopped);
}

#endif

}  // namespace
}  // namespace service_test
