// The loader service on fakes of every Windows service it uses: a service control manager that
// records the status reports and sends controls, the event log, device notifications, the
// process, the clock and waits (the 30-second waits held until the test lets them time out), and
// a Gobi 2000 card on a fake serial port. The service runs ServiceMain on a thread of its own,
// with the log in C:\logs.
#pragma once

#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/clock_fake.h"
#include "fakes/devices_fake.h"
#include "fakes/event_log_fake.h"
#include "fakes/files_fake.h"
#include "fakes/images_fake.h"
#include "fakes/notifications_fake.h"
#include "fakes/path_functions_fake.h"
#include "fakes/process_fake.h"
#include "fakes/registry_fake.h"
#include "fakes/serial_fake.h"
#include "fakes/service_host_fake.h"
#include "fakes/service_manager_fake.h"
#include "fakes/shell_fake.h"
#include "fakes/sync_fake.h"
#include "fakes/text_files_fake.h"
#include "platform/platform.h"
#include "service/dovrand_service.h"

namespace service_test {

// Status reports as compact rows: state, controls accepted, check point, wait hint, Win32 exit
// code, specific exit code.
struct Report {
    uint32_t state;
    uint32_t accepted;
    uint32_t checkPoint;
    uint32_t waitHint;
    uint32_t win32Exit = 0;
    uint32_t specificExit = 0;
    bool operator==(const Report&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Report& r);

// The service states as the service control manager knows them.
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kRunning = 4;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kStopped = 1;

// The card's interface path, its modem-mode twin, and a COM port outside the catalogue.
extern const std::wstring kDownloadPath;
extern const std::wstring kModemPath;
extern const std::wstring kForeignPath;
// The lines a load attempt writes for the card before its first try (a function, so that other
// files' constants may be made of it).
const std::vector<std::wstring>& PreparedLines();

// Whether the lines are the expected ones, where an expected "..." stands for any run of lines.
bool LinesMatch(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& expected);
// The lines, one a line, for a failure message.
std::string Shown(const std::vector<std::wstring>& lines);

// A DEV_BROADCAST_DEVICEINTERFACE_W record as the system sends it, little-endian.
std::vector<uint8_t> BroadcastRecord(const std::wstring& path);

// Joins a thread that runs ServiceMain, once `done` is ready, waiting at most timeoutMs. A
// service thread that has not ended by then (a stop that was lost) fails the test and ends the
// test program at once: its thread still uses the test's objects, so nothing can go on.
void JoinWithin(std::thread& thread, std::future<void>& done, uint32_t timeoutMs);

class ServiceRig {
  public:
    static constexpr const wchar_t* kLogPath = L"C:\\logs\\Dovrand.log";
    static constexpr uint32_t kRealTimeoutMs = 20000;  // a bound on waiting for the service

    ServiceRig();
    ~ServiceRig();
    ServiceRig(const ServiceRig&) = delete;
    ServiceRig& operator=(const ServiceRig&) = delete;

    // The card present under the interface (in download mode by default) with its port COM7,
    // options file and images.
    void AddCard(const std::wstring& path = kDownloadPath);
    // The card's port COM7, its options file and its images C:\FW\AMSS.MBN, APPS.MBN and
    // UQCN.MBN (these bytes, or small made-up ones), without its interface.
    void AddCardFiles(const std::vector<std::vector<uint8_t>>& images = {});
    // The card's replies for one successful download.
    void ScriptLoad();

    // ServiceMain on the service thread; Join waits for it to return (see JoinWithin).
    void Start();
    void Join();
    bool Running() const { return thread_.joinable(); }
    // Blocks until RUNNING is reported and, for the loader service, its line is written.
    bool AwaitRunning();
    uint32_t Send(uint32_t control, uint32_t eventType = 0, void* data = nullptr) {
        return host.Send(control, eventType, data);
    }
    // Blocks until the log holds `count` lines equal to `line` (at most kRealTimeoutMs).
    bool AwaitLine(const std::wstring& line, int count = 1);

    std::vector<Report> Reports() const;
    // The log file's lines without timestamps; with steps, without the frame traces.
    std::vector<std::wstring> LogLines(bool steps = true);

    platform::fake::FakeSync sync;
    platform::fake::FakeServiceHost host;
    platform::fake::FakeEventLog events;
    platform::fake::FakeDeviceNotifications notifications;
    platform::fake::FakeProcess process;
    platform::fake::FakeFileSystem files;
    platform::fake::FakeSystemText text;
    platform::fake::FakeClock clock;
    platform::fake::FakeDeviceInterfaces devices;
    platform::fake::FakeRegistry registry;
    platform::fake::FakeTextFiles textFiles;
    platform::fake::FakeShellFolders folders;
    platform::fake::FakeSerialPorts serial;
    platform::fake::FakeImageFiles images;
    platform::fake::FakePathFunctions paths;
    platform::fake::FakeServiceManager services;
    cDovrandService service;

  private:
    std::optional<platform::ScopedPlatform> use_;
    cWindowsService* previous_;
    std::thread thread_;
    std::future<void> done_;
};

}  // namespace service_test
