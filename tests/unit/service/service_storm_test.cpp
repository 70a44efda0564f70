// The service storm, a soak rather than a test: skipped unless bench/service_storm runs it
// (DOVRAND_STORM_DIR). From a seed it draws a long run of controls, sent through the control
// handler from this thread as the dispatcher would: arrivals of the card in download mode and in
// modem mode, of foreign ports, removals, suspends, resumes, interrogates, a stop or a shutdown
// followed by a new start. Each try of a load asks the driver for a card first (a file
// request-N in the storm folder, answered by ready-N): the driver starts cardsim with one fault
// or none behind the card's port, and afterwards checks each try against the log that this test
// leaves in storm.log. This side checks each step:
//   - every control's result, and the report that an interrogate makes;
//   - STOPPED within the 3000 ms wait hint of every stop and shutdown;
//   - after each stop, no thread left behind and nothing left open in the fakes;
//   - across the whole run, the process's handles and private memory (first sample after a
//     warm-up against the last; samples are taken after each stop).
// It writes summary.txt for the driver. On the host the service runs on the fakes of the service
// rig with the host's own threads, events and serial port (a pty); under Wine on the Windows
// build's own adapters, as the hot-plug test runs it. The 30-second waits between tries and the
// port's 2-second waits are shortened through the platform seam, so that a run of faults takes
// minutes, not hours.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/serial.h"
#include "platform/sync.h"
#include "service/native_service.h"
#include "service/service_rig.h"

#ifdef _WIN32
#include "platform/win32/windows_api.h"

#include <psapi.h>
#include <tlhelp32.h>
#else
#include <dirent.h>
#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizer's allocator (its header comes with clang, not with gcc).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif
#endif

namespace service_test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRetryWaitMs = 30000;     // the service's wait between tries
constexpr uint32_t kStormRetryWaitMs = 50;   // ... in the storm
constexpr uint32_t kPortWaitMs = 2000;       // the port's wait for a write or read
constexpr uint32_t kStormPortWaitMs = 1000;  // ... in the storm: above cardsim's 50 ms split,
                                             // below its 2500 ms late reply and stalls
constexpr uint32_t kStopHintMs = 3000;       // the wait hint of STOP_PENDING
constexpr int kCardWaitMs = 30000;           // for the driver's card
constexpr uint32_t kStartLimitMs = 30000;    // start to RUNNING
constexpr uint32_t kStopLimitMs = 10000;     // stop to STOPPED, beyond which the storm ends
constexpr int kIdleLimitMs = 60000;          // an attempt of five faulty tries and its waits

// --- the process's figures ---

struct Figures {
    long handles = -1;     // Windows: handles (NtQuerySystemInformation); host: descriptors
    long privateKiB = -1;  // Windows: PrivateUsage (or PagefileUsage); host: the heap in use
                           // as the sanitizer's allocator counts it
    long threads = -1;
};

#ifdef _WIN32

long HandleCount() {
    // SYSTEM_HANDLE_INFORMATION: GetProcessHandleCount is always 0 under Wine.
    struct Entry {
        ULONG ownerPid;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return -1;
    }
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) {
            return -1;
        }
        break;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        count += table->entries[i].ownerPid == self ? 1 : 0;
    }
    return count;
}

// What the figures are, for the summary.
std::string g_measured =
    "handles: NtQuerySystemInformation's handles of the process; private KiB: PrivateUsage";

long PrivateKiB() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    using Info = BOOL(WINAPI*)(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD);
    static const auto info = reinterpret_cast<Info>(reinterpret_cast<void (*)()>(
        GetProcAddress(LoadLibraryW(L"psapi.dll"), "GetProcessMemoryInfo")));
    if (info == nullptr ||
        !info(GetCurrentProcess(), reinterpret_cast<PPROCESS_MEMORY_COUNTERS>(&counters),
              sizeof(counters))) {
        return -1;
    }
    // Wine leaves PrivateUsage at 0; PagefileUsage is the same figure (the commit charge) on
    // Windows, and Wine reports it.
    if (counters.PrivateUsage == 0) {
        g_measured =
            "handles: NtQuerySystemInformation's handles of the process; private KiB: "
            "PagefileUsage, the commit charge (PrivateUsage is left 0 here)";
        return static_cast<long>(counters.PagefileUsage / 1024);
    }
    return static_cast<long>(counters.PrivateUsage / 1024);
}

long ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    long count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snapshot);
    return count;
}

#else

long Entries(const char* folder) {
    DIR* dir = opendir(folder);
    if (dir == nullptr) {
        return -1;
    }
    long count = 0;
    for (dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(dir);
    return count;
}

const std::string g_measured =
    "handles: open descriptors; private KiB: the heap in use as the sanitizer's allocator "
    "counts it";

long HandleCount() {
    return Entries("/proc/self/fd") - 1;  // the listing's own descriptor
}

long PrivateKiB() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return static_cast<long>(mallinfo2().uordblks / 1024);
#endif
}

long ThreadCount() {
    return Entries("/proc/self/task");
}

#endif

Figures Measure() {
    return Figures{HandleCount(), PrivateKiB(), ThreadCount()};
}

// --- the seam: shortened waits, and a card for each try ---

// The driver's card for each try of a load: a request file, answered by a ready file once
// cardsim (or, for a try without a port, nothing) is behind the card's port.
class CardDesk {
  public:
    explicit CardDesk(std::string folder) : folder_(std::move(folder)) {}

    bool Request() {
        const int number = ++requests_;
        const std::string request = folder_ + Separator() + "request-" + std::to_string(number);
        std::ofstream(request + ".tmp").put('\n');
        std::rename((request + ".tmp").c_str(), request.c_str());
        const auto deadline = Clock::now() + std::chrono::milliseconds(kCardWaitMs);
        const std::string ready = folder_ + Separator() + "ready-" + std::to_string(number);
        while (Clock::now() < deadline) {
            if (std::ifstream(ready).good()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        missed_ = true;
        return false;
    }

    int requests() const { return requests_.load(); }
    // Whether a request went unanswered since the last call.
    bool TakeMissed() { return missed_.exchange(false); }
    const std::string& folder() const { return folder_; }

    static const char* Separator() {
#ifdef _WIN32
        return "\\";
#else
        return "/";
#endif
    }

  private:
    std::string folder_;
    std::atomic<int> requests_{0};
    std::atomic<bool> missed_{false};
};

// The platform's events, waits and threads, with the waits between tries shortened; it also
// tells when the service thread sleeps in its idle wait (two events, no time limit, on a thread
// that the platform did not start: the log's writer has such a wait too, on its own thread).
class StormSync : public platform::Sync {
  public:
    explicit StormSync(platform::Sync& base) : base_(base) {}

    std::unique_ptr<platform::Event> CreateEvent(bool manualReset, bool initiallySet,
                                                 platform::ErrorCode* error) override {
        return base_.CreateEvent(manualReset, initiallySet, error);
    }
    std::unique_ptr<platform::Lock> CreateLock(uint32_t spinCount,
                                               platform::ErrorCode* error) override {
        return base_.CreateLock(spinCount, error);
    }
    std::unique_ptr<platform::Thread> StartThread(std::function<void()> body,
                                                  platform::ErrorCode* error) override {
        return base_.StartThread(
            [body = std::move(body)] {
                started_ = true;
                body();
            },
            error);
    }
    platform::WaitResult WaitAny(platform::Event* const* events, size_t count,
                                 uint32_t timeoutMs) override {
        if (timeoutMs == kRetryWaitMs) {
            timeoutMs = kStormRetryWaitMs;
        }
        const bool idle = !started_ && count == 2 && timeoutMs == platform::kInfinite;
        if (idle) {
            ++idleEntries_;
            idle_ = true;
        }
        const platform::WaitResult result = base_.WaitAny(events, count, timeoutMs);
        if (idle) {
            idle_ = false;
        }
        return result;
    }

    // Blocks until the service thread has slept in its idle wait for a while, at most limitMs.
    bool AwaitIdle(int limitMs) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
        while (Clock::now() < deadline) {
            const int entries = idleEntries_.load();
            if (idle_.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (idle_.load() && idleEntries_.load() == entries) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return false;
    }

  private:
    platform::Sync& base_;
    std::atomic<bool> idle_{false};
    std::atomic<int> idleEntries_{0};
    static thread_local bool started_;
};

thread_local bool StormSync::started_ = false;

// A port whose 2-second waits are shortened.
class StormDevice : public platform::SerialDevice {
  public:
    explicit StormDevice(std::unique_ptr<platform::SerialDevice> base) : base_(std::move(base)) {}
    platform::ErrorCode GetState(platform::SerialState* state) override {
        return base_->GetState(state);
    }
    platform::ErrorCode SetState(const platform::SerialState& state) override {
        return base_->SetState(state);
    }
    platform::ErrorCode SetTimeouts(const platform::SerialTimeouts& timeouts) override {
        return base_->SetTimeouts(timeouts);
    }
    platform::ErrorCode Purge(uint32_t flags) override { return base_->Purge(flags); }
    platform::IoStartResult StartWrite(const uint8_t* bytes, uint32_t count) override {
        return base_->StartWrite(bytes, count);
    }
    platform::IoStartResult StartRead(uint8_t* buffer, uint32_t count) override {
        return base_->StartRead(buffer, count);
    }
    platform::IoWaitResult Wait(platform::Event* cancelEvent, uint32_t timeoutMs) override {
        return base_->Wait(cancelEvent, timeoutMs == kPortWaitMs ? kStormPortWaitMs : timeoutMs);
    }
    platform::ErrorCode GetResult(bool wait, uint32_t* count) override {
        return base_->GetResult(wait, count);
    }
    platform::ErrorCode CancelIo() override { return base_->CancelIo(); }

  private:
    std::unique_ptr<platform::SerialDevice> base_;
};

// The platform's serial ports, each open preceded by the driver's card for the try.
class StormPorts : public platform::SerialPorts {
  public:
    StormPorts(platform::SerialPorts& base, CardDesk& desk) : base_(base), desk_(desk) {}
    std::unique_ptr<platform::SerialDevice> Open(const std::wstring& devicePath,
                                                 platform::Event* ioEvent,
                                                 platform::ErrorCode* error) override {
        desk_.Request();
        std::unique_ptr<platform::SerialDevice> device = base_.Open(devicePath, ioEvent, error);
        if (!device) {
            return nullptr;
        }
        return std::make_unique<StormDevice>(std::move(device));
    }

  private:
    platform::SerialPorts& base_;
    CardDesk& desk_;
};

// --- one start of the service ---

class StormRun {
  public:
    virtual ~StormRun() = default;
    virtual void Start() = 0;
    virtual void Join() = 0;
    virtual uint32_t Send(uint32_t control, uint32_t eventType = 0, void* data = nullptr) = 0;
    virtual platform::fake::FakeServiceHost& Host() = 0;
    // The log's lines, the frame traces included, without timestamps.
    virtual std::vector<std::wstring> Lines() = 0;
    // What the fakes still hold open after the end (always 0 on the real adapters).
    virtual int OpenInFakes() = 0;
    virtual std::vector<uint8_t> Record(const std::wstring& path) = 0;
    StormSync& sync() { return *sync_; }

  protected:
    std::unique_ptr<StormSync> sync_;
    std::unique_ptr<StormPorts> ports_;
    std::optional<platform::ScopedPlatform> use_;

    // Puts the storm's seam over the platform installed now.
    void Install(CardDesk& desk) {
        platform::Platform p = platform::Get();
        sync_ = std::make_unique<StormSync>(*platform::Native().sync);
        ports_ = std::make_unique<StormPorts>(*platform::Native().serial, desk);
        p.sync = sync_.get();
        p.serial = ports_.get();
        use_.emplace(p);
    }
};

#ifdef _WIN32

// On the Windows build's own adapters, with the log in the driver's folder.
class NativeRun : public StormRun {
  public:
    NativeRun(CardDesk& desk, std::string logPath) : logPath_(std::move(logPath)) {
        std::remove(logPath_.c_str());
        Install(desk);
    }
    ~NativeRun() override {
        if (service_.Running()) {
            service_.Send(1);
            service_.Join();
        }
        use_.reset();  // before the service's own platform goes
    }
    void Start() override { service_.Start(); }
    void Join() override { service_.Join(); }
    uint32_t Send(uint32_t control, uint32_t eventType, void* data) override {
        return service_.Send(control, eventType, data);
    }
    platform::fake::FakeServiceHost& Host() override { return service_.host; }
    std::vector<std::wstring> Lines() override { return service_.Lines(); }
    int OpenInFakes() override { return 0; }
    std::vector<uint8_t> Record(const std::wstring& path) override {
        return SystemBroadcastRecord(path);
    }

  private:
    std::string logPath_;
    NativeService service_;
};

#else

// On the rig's fakes (service manager, notifications, registry, options file, images, files),
// with the host's threads, events and pty serial port.
class HostRun : public StormRun {
  public:
    HostRun(CardDesk& desk, const std::vector<std::vector<uint8_t>>& images) {
        rig_.AddCardFiles(images);
        Install(desk);
    }
    ~HostRun() override {
        if (rig_.Running()) {
            rig_.Send(1);
            rig_.Join();
        }
        use_.reset();  // before the rig's own platform goes
    }
    void Start() override { rig_.Start(); }
    void Join() override { rig_.Join(); }
    uint32_t Send(uint32_t control, uint32_t eventType, void* data) override {
        return rig_.Send(control, eventType, data);
    }
    platform::fake::FakeServiceHost& Host() override { return rig_.host; }
    std::vector<std::wstring> Lines() override { return rig_.LogLines(false); }
    int OpenInFakes() override {
        return rig_.images.OpenFiles() + rig_.images.OpenMappings() + rig_.images.OpenViews() +
               rig_.services.OpenHandles() +
               static_cast<int>(rig_.notifications.registrations().size() -
                                rig_.notifications.unregistered().size());
    }
    std::vector<uint8_t> Record(const std::wstring& path) override { return BroadcastRecord(path); }

  private:
    ServiceRig rig_;
};

#endif

// --- the storm ---

enum class Kind {
    kArrival,
    kModemArrival,
    kForeignArrival,
    kRemoval,
    kSuspend,
    kResume,
    kInterrogate,
    kStop,
    kShutdown
};

constexpr const char* kKindNames[] = {"arrival", "modem",       "foreign", "removal", "suspend",
                                      "resume",  "interrogate", "stop",    "shutdown"};
// How often each is drawn, in the order above.
constexpr int kWeights[] = {4, 1, 1, 1, 2, 2, 2, 1, 1};

struct Options {
    std::string folder;  // the driver's folder, as this program names it
    int events = 0;
    uint32_t seed = 0;
};

std::optional<Options> StormOptions() {
    const char* folder = std::getenv("DOVRAND_STORM_DIR");
    if (folder == nullptr || *folder == '\0') {
        return std::nullopt;
    }
    Options o;
    o.folder = folder;
    const char* events = std::getenv("DOVRAND_STORM_EVENTS");
    o.events = events != nullptr ? std::atoi(events) : 200;
    const char* seed = std::getenv("DOVRAND_STORM_SEED");
    o.seed = seed != nullptr ? static_cast<uint32_t>(std::strtoul(seed, nullptr, 10)) : 1;
    return o;
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

class Storm {
  public:
    explicit Storm(const Options& options)
        : options_(options), rng_(options.seed), desk_(options.folder) {
#ifndef _WIN32
        for (const char* name : {"AMSS", "APPS", "UQCN"}) {
            std::ifstream in(options.folder + "/" + name + ".MBN", std::ios::binary);
            images_.emplace_back(std::istreambuf_iterator<char>(in),
                                 std::istreambuf_iterator<char>());
        }
#endif
    }

    void Go() {
        warmUpEnd_ = std::max(1, options_.events / 10);
        // A start and a stop first, not counted as an event: the threads that the system starts
        // on first use and keeps (ThreadSanitizer's own; the service manager's under Wine) are
        // then there before the first count. A failure counts with the first event.
        warmingUp_ = true;
        StartRun();
        EndRun(Kind::kStop);
        warmingUp_ = false;
        StartRun();
        for (int event = 1; event <= options_.events; ++event) {
            const Kind kind = event == options_.events ? Kind::kStop : Draw();
            eventsDone_ = event;
            Do(event, kind);
            if (desk_.TakeMissed()) {
                Fail("the driver's card did not come within " + std::to_string(kCardWaitMs) +
                     " ms");
            }
            if (event == options_.events) {
                CheckFlat();
            }
            if (failure_.empty()) {
                ++passed_;
            } else {
                ++failed_;
                std::printf("FAIL event %d (%s): %s\n", event, kKindNames[static_cast<int>(kind)],
                            failure_.c_str());
            }
            failure_.clear();
            if (event % 500 == 0) {
                std::printf("storm: %d events, %d failed, %d loads\n", event, failed_,
                            desk_.requests());
            }
            std::fflush(stdout);
            if (event != options_.events) {
                Pause();
            }
        }
        WriteSummary();
    }

    int failed() const {
        return failed_;
    }

  private:
    Kind Draw() {
        std::discrete_distribution<int> pick(std::begin(kWeights), std::end(kWeights));
        return static_cast<Kind>(pick(rng_));
    }

    int Uniform(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(rng_);
    }

    void Fail(const std::string& why) {
        if (!failure_.empty()) {
            failure_ += "; ";
        }
        failure_ += why;
    }

    void Pause() {
        // Mostly a short gap, so that controls meet loads at every point; now and then a longer
        // one.
        const int ms = Uniform(0, 9) == 0 ? Uniform(20, 200) : Uniform(0, 15);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }

    void Do(int event, Kind kind) {
        StormRun& run = *run_;
        switch (kind) {
            case Kind::kArrival:
            case Kind::kModemArrival:
            case Kind::kForeignArrival:
            case Kind::kRemoval: {
                const std::wstring& path = kind == Kind::kModemArrival     ? kModemPath
                                           : kind == Kind::kForeignArrival ? kForeignPath
                                                                           : kDownloadPath;
                std::vector<uint8_t> record = run.Record(path);
                const uint32_t type = kind == Kind::kRemoval ? 0x8004 : 0x8000;
                Expect(run.Send(11, type, record.data()), 0, "device event");
                // Now and then the load runs to its end before the next control.
                if (kind == Kind::kArrival && Uniform(0, 2) == 0 &&
                    !run.sync().AwaitIdle(kIdleLimitMs)) {
                    Fail("the service was not idle again within " + std::to_string(kIdleLimitMs) +
                         " ms");
                }
                break;
            }
            case Kind::kSuspend:
                Expect(run.Send(13, 4), 0, "suspend");
                break;
            case Kind::kResume: {
                const uint32_t types[] = {6, 7, 18};
                Expect(run.Send(13, types[Uniform(0, 2)]), 0, "resume");
                break;
            }
            case Kind::kInterrogate: {
                Expect(run.Send(4), 0, "interrogate");
                const platform::ServiceStatus last = LastReport(run);
                if (last.currentState != 4 || last.checkPoint != 0 || last.waitHint != 0) {
                    Fail("an interrogate reported state " + std::to_string(last.currentState) +
                         ", check point " + std::to_string(last.checkPoint));
                }
                break;
            }
            case Kind::kStop:
            case Kind::kShutdown:
                EndRun(kind);
                if (event != options_.events) {
                    StartRun();
                }
                break;
        }
    }

    static platform::ServiceStatus LastReport(StormRun& run) {
        const std::vector<platform::ServiceStatus> reports = run.Host().reports();
        return reports.empty() ? platform::ServiceStatus{} : reports.back();
    }

    void Expect(uint32_t result, uint32_t expected, const char* what) {
        if (result != expected) {
            Fail(std::string(what) + " returned " + std::to_string(result));
        }
    }

    void StartRun() {
        threadsBefore_ = ThreadCount();
        runStartRequests_ = desk_.requests();
        ++runs_;
#ifdef _WIN32
        const char* logs = NativeService::LogFolder();
        run_ = std::make_unique<NativeRun>(desk_, std::string(logs) + "\\Dovrand.log");
#else
        run_ = std::make_unique<HostRun>(desk_, images_);
#endif
        run_->Start();
        if (!run_->Host().AwaitState(4, kStartLimitMs)) {
            Fail("no RUNNING within " + std::to_string(kStartLimitMs) + " ms of the start");
        }
    }

    void EndRun(Kind kind) {
        StormRun& run = *run_;
        const Clock::time_point sent = Clock::now();
        run.Send(kind == Kind::kStop ? 1 : 5);
        const bool stopped = run.Host().AwaitState(1, kStopLimitMs);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
        if (!stopped) {
            Fail("no STOPPED within " + std::to_string(kStopLimitMs) + " ms");
        } else {
            stopMs_.push_back(ms);
            if (ms > kStopHintMs) {
                Fail("STOPPED " + std::to_string(static_cast<int>(ms)) +
                     " ms after the control, beyond the wait hint of 3000 ms");
            }
        }
        run.Join();
        const platform::ServiceStatus end = LastReport(run);
        if (end.currentState != 1 || end.win32ExitCode != 0 || end.serviceSpecificExitCode != 0) {
            Fail("the last report is state " + std::to_string(end.currentState) + " with exit " +
                 std::to_string(end.win32ExitCode) + "/" +
                 std::to_string(end.serviceSpecificExitCode));
        }
        const std::vector<std::wstring> lines = run.Lines();
        // A shutdown closes the log at once; the service's last lines are then not in it.
        if (kind == Kind::kStop && (lines.empty() || lines.back() != L"Service stopped.")) {
            Fail("the log does not end with \"Service stopped.\"");
        }
        if (const int open = run.OpenInFakes(); open != 0) {
            Fail(std::to_string(open) + " handles left open in the fakes");
        }
        AppendLog(kind, lines);
        run_.reset();

        // The service thread, the log's writer and the port's are gone; a thread may take a
        // moment to leave the process after its end.
        long threads = ThreadCount();
        for (int i = 0; i < 200 && threads > threadsBefore_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            threads = ThreadCount();
        }
        if (threads > threadsBefore_ && !warmingUp_) {
            Fail(std::to_string(threads - threadsBefore_) + " threads left behind");
        }
        const Figures now = Measure();
        if (first_.handles < 0 && eventsDone_ >= warmUpEnd_) {
            first_ = now;
        }
        if (first_.handles >= 0) {
            samples_.push_back(now);
        }
        last_ = now;
    }

    void AppendLog(Kind kind, const std::vector<std::wstring>& lines) {
        std::ofstream out(desk_.folder() + CardDesk::Separator() + "storm.log", std::ios::app);
        out << "=== run " << runs_ << " " << kKindNames[static_cast<int>(kind)] << " requests "
            << runStartRequests_ + 1 << " " << desk_.requests() << "\n";
        for (const std::wstring& line : lines) {
            out << Narrow(line) << "\n";
        }
    }

    void CheckFlat() {
        if (first_.handles < 0) {
            first_ = last_;
        }
        // A leak of one handle or one allocation per load shows many times over.
        if (last_.handles > first_.handles + kHandleSlack) {
            Fail("handles grew from " + std::to_string(first_.handles) + " to " +
                 std::to_string(last_.handles));
        }
        if (last_.privateKiB > first_.privateKiB + kMemorySlackKiB) {
            Fail("private memory grew from " + std::to_string(first_.privateKiB) + " KiB to " +
                 std::to_string(last_.privateKiB) + " KiB");
        }
    }

    double Percentile(double p) const {
        if (stopMs_.empty()) {
            return 0;
        }
        std::vector<double> sorted = stopMs_;
        std::sort(sorted.begin(), sorted.end());
        const size_t at = std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()));
        return sorted[at];
    }

    void WriteSummary() {
        std::ofstream out(desk_.folder() + CardDesk::Separator() + "summary.txt");
        out << "events " << options_.events << "\npassed " << passed_ << "\nfailed " << failed_
            << "\nloads " << desk_.requests() << "\nruns " << runs_ << "\nhandles "
            << first_.handles << " " << last_.handles << "\nprivate_kib " << first_.privateKiB
            << " " << last_.privateKiB << "\nstops " << stopMs_.size() << "\nstop_ms "
            << Percentile(0.5) << " " << Percentile(0.99) << " "
            << (stopMs_.empty() ? 0 : *std::max_element(stopMs_.begin(), stopMs_.end()))
            << "\nmeasured " << g_measured << "\nsamples";
        for (const Figures& f : samples_) {
            out << " " << f.handles << "/" << f.privateKiB << "/" << f.threads;
        }
        out << "\n";
    }

#ifdef _WIN32
    static constexpr long kHandleSlack = 8;
    static constexpr long kMemorySlackKiB = 2048;
#else
    static constexpr long kHandleSlack = 2;
    static constexpr long kMemorySlackKiB = 512;
#endif

    Options options_;
    std::mt19937 rng_;
    CardDesk desk_;
    std::vector<std::vector<uint8_t>> images_;
    std::unique_ptr<StormRun> run_;
    std::string failure_;
    int passed_ = 0;
    int failed_ = 0;
    int runs_ = 0;
    int runStartRequests_ = 0;
    long threadsBefore_ = 0;
    int warmUpEnd_ = 1;
    bool warmingUp_ = false;
    int eventsDone_ = 0;
    Figures first_;
    Figures last_;
    std::vector<double> stopMs_;
    std::vector<Figures> samples_;  // after the warm-up
};

TEST(ServiceStorm, Run) {
    const std::optional<Options> options = StormOptions();
    if (!options) {
        GTEST_SKIP() << "run by bench/service_storm";
    }
    Storm storm(*options);
    storm.Go();
    EXPECT_EQ(storm.failed(), 0);
}

}  // namespace
}  // namespace service_test
