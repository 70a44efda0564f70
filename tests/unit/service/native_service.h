// The loader service on the Windows build's own adapters, for the tests and figures run under
// Wine by tests/wine/service/hotplug_test.py: no service manager runs the test program, so a fake
// one takes the status reports and sends the controls; everything else is the real thing. The
// log goes to the folder that the script names in DOVRAND_SERVICE_HOTPLUG_LOG.
#pragma once

#ifdef _WIN32

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/service_host_fake.h"
#include "platform/platform.h"
#include "service/dovrand_service.h"

namespace service_test {

// DBT_DEVICEARRIVAL, PBT_APMSUSPEND.
inline constexpr uint32_t kArrival = 0x8000;
inline constexpr uint32_t kSuspend = 4;

// The record the system sends with an arrival of the interface, built with the Windows headers'
// own DEV_BROADCAST_DEVICEINTERFACE_W.
std::vector<uint8_t> SystemBroadcastRecord(const std::wstring& path);

class NativeService {
  public:
    // The log folder, or null when the script did not start this test program.
    static const char* LogFolder();

    NativeService();   // installs the platform and the service object, with the log enabled
    ~NativeService();  // stops the service if it runs, then puts everything back
    NativeService(const NativeService&) = delete;
    NativeService& operator=(const NativeService&) = delete;

    void Start();  // ServiceMain on a thread of its own
    void Join();   // at most 60 s (see JoinWithin)
    bool Running() const { return thread_.joinable(); }
    uint32_t Send(uint32_t control, uint32_t eventType = 0, void* data = nullptr) {
        return host.Send(control, eventType, data);
    }
    // The log's lines so far, flushed first.
    std::vector<std::wstring> Lines();
    // Blocks until the line has been written `count` times (at most 60 s).
    bool AwaitLine(const std::wstring& line, int count = 1);

    platform::fake::FakeServiceHost host;
    cDovrandService service;

  private:
    std::optional<platform::ScopedPlatform> use_;
    cWindowsService* previous_;
    std::string logPath_;
    std::thread thread_;
    std::future<void> done_;
};

}  // namespace service_test

#endif
