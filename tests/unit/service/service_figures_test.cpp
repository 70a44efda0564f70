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
#include <thread>
#include <vector>

#include "fakes/serial_fake.h"
#include "service/native_service.h"
#include "service/service_rig.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"
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

TEST(ServiceFiguresWine, OnTheRealAdapters) {
    if (!Wanted() || NativeService::LogFolder() == nullptr) {
        GTEST_SKIP() << "run by tests/wine/service/hotplug_test.py --figures";
    }
    NativeService run;

    // The same 10 seconds without the service, for comparison: Wine's own threads of the process.
    const double quietStart = ProcessorMs();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double quiet = ProcessorMs() - quietStart;

    const Clock::time_point started = Clock::now();
    run.Start();
    ASSERT_TRUE(run.host.AwaitState(kRunning, 60000));
    const double toRunning = Ms(Clock::now() - started);

    // Idle: the service thread sleeps in its wait, the log's writer in its own.
    const double before = ProcessorMs();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double idle = ProcessorMs() - before;

    std::vector<uint8_t> record = SystemBroadcastRecord(kDownloadPath);
    run.Send(service_control::kDeviceEvent, kArrival, record.data());
    ASSERT_TRUE(run.AwaitLine(L"Sending AMSS..."));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the block write is pending
    const Clock::time_point stopped = Clock::now();
    run.Send(service_control::kStop);
    ASSERT_TRUE(run.host.AwaitState(kStopped, 60000));
    const double toStopped = Ms(Clock::now() - stopped);
    run.Join();

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
