// The service host: its status reports, its log and event-log texts, every failure row.
#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fakes/sync_fake.h"
#include "log/log.h"
#include "log/start_keys.h"
#include "platform/sync.h"
#include "service/service_rig.h"
#include "support/log_capture.h"

namespace service_test {
namespace {

// A service whose work reports RUNNING, waits for the stop event and then for the test.
class TestService : public cWindowsService {
  public:
    uint32_t Run(uint32_t, wchar_t**) override {
        ReportState(service_state::kRunning, 0);
        platform::Event* stop = StopEvent();
        platform::Get().sync->WaitAny(&stop, 1, platform::kInfinite);
        release.get_future().wait();
        LogWrite(L"Run ends.");
        return exitCode;
    }
    uint32_t OnControl(uint32_t, uint32_t, void*, void*) override { return 120; }
    void OnStop(uint32_t isShutdown) override { stops.push_back(isShutdown); }
    uint32_t GetControlsAccepted() override { return 0; }
    const wchar_t* GetTitle() override { return L"Test"; }
    const wchar_t* GetServiceName() override { return L"Dovrand"; }
    const wchar_t* GetDisplayName() override { return L"Dovrand Service"; }

    // Whether the stop event is open (a look at the host's class-wide state).
    static bool StopEventOpen() { return StopEvent() != nullptr; }

    uint32_t exitCode = 0;
    std::promise<void> release;
    std::vector<uint32_t> stops;
};

// The fake's events, except that the n-th CreateEvent fails with no error code, as CreateEventW
// may leave the thread's last error at 0.
class SyncFailingWithoutCode : public platform::fake::FakeSync {
  public:
    explicit SyncFailingWithoutCode(int failing) : failing_(failing) {}
    std::unique_ptr<platform::Event> CreateEvent(bool manualReset, bool initiallySet,
                                                 platform::ErrorCode* error) override {
        if (++calls_ == failing_) {
            *error = 0;
            return nullptr;
        }
        return FakeSync::CreateEvent(manualReset, initiallySet, error);
    }

  private:
    const int failing_;
    std::atomic<int> calls_{0};
};

struct Event {
    uint16_t type;
    uint32_t id;
    std::wstring text;  // "%E" stands for the error text of the row's code
    bool operator==(const Event&) const = default;
};

std::vector<Event> Events(ServiceRig& rig) {
    std::vector<Event> events;
    for (const auto& e : rig.events.events()) {
        EXPECT_EQ(e.source, L"Dovrand");
        events.push_back(Event{e.type, e.id, e.text});
    }
    return events;
}

std::vector<Event> Expand(std::vector<Event> events, uint32_t code) {
    for (Event& e : events) {
        const size_t at = e.text.find(L"%E");
        if (at != std::wstring::npos) {
            e.text.replace(at, 2, ErrorText(code));
        }
    }
    return events;
}

const Event kNotice{4, 0x40020002, L"Dovrand Service\nLog file created: 'C:\\logs\\Dovrand.log'"};

using Lines = std::vector<std::wstring>;

// The text with "%E" replaced by the error text of the code.
std::wstring WithErrorText(std::wstring text, uint32_t code) {
    if (const size_t at = text.find(L"%E"); at != std::wstring::npos) {
        text.replace(at, 2, ErrorText(code));
    }
    return text;
}

struct HostCase {
    const char* name;
    bool dovrand;                               // the loader service, else TestService
    void (*before)(ServiceRig&, TestService&);  // before the start, if given
    void (*drive)(ServiceRig&, TestService&);   // after the start, if given
    std::vector<Report> reports;
    Lines lines;
    uint32_t code;  // for %E
    std::vector<Event> events;
    std::vector<uint32_t> stops;  // OnStop's arguments (TestService)
    int eventWithoutCode = 0;     // this CreateEvent fails with no error code, unless 0
};

class ServiceHostTest : public testing::TestWithParam<HostCase> {};

TEST_P(ServiceHostTest, ReportsLinesAndEvents) {
    const HostCase& c = GetParam();
    ServiceRig rig;
    SyncFailingWithoutCode failing(c.eventWithoutCode);
    std::optional<platform::ScopedPlatform> use;
    if (c.eventWithoutCode != 0) {
        platform::Platform p = platform::Get();
        p.sync = &failing;
        use.emplace(p);
    }
    TestService test;
    if (!c.dovrand) {
        cWindowsService::SetInstance(&test);
        test.release.set_value();
    }
    if (c.before != nullptr) {
        c.before(rig, test);
    }
    rig.Start();
    if (c.drive != nullptr) {
        c.drive(rig, test);
    }
    rig.Join();
    EXPECT_EQ(rig.Reports(), c.reports);
    Lines lines;
    for (const std::wstring& line : c.lines) {
        lines.push_back(WithErrorText(line, c.code));
    }
    EXPECT_EQ(rig.LogLines(), lines);
    std::vector<Event> events;
    for (const Event& e : c.events) {
        events.push_back(Event{e.type, e.id, WithErrorText(e.text, c.code)});
    }
    EXPECT_EQ(Events(rig), events);
    EXPECT_EQ(test.stops, c.stops);
    for (platform::StatusHandle handle : rig.host.report_handles()) {
        EXPECT_EQ(handle, platform::fake::FakeServiceHost::kHandle);
    }
}

void StopWhenRunning(ServiceRig& rig, TestService&) {
    ASSERT_TRUE(rig.AwaitRunning());
    rig.Send(service_control::kStop);
}

void SecondStop(ServiceRig& rig, TestService&) {
    ASSERT_TRUE(rig.AwaitRunning());
    // The first stop's event is lost (after the log's own event), so the second stop comes while
    // the service is still stopping.
    rig.sync.script().Fail("SetEvent", 6, 1, 1);
    rig.Send(service_control::kStop);
    rig.Send(service_control::kStop);
}

void InterrogateWhileRunning(ServiceRig& rig, TestService& test) {
    ASSERT_TRUE(rig.AwaitRunning());
    EXPECT_EQ(rig.Send(service_control::kInterrogate), 0u);
    StopWhenRunning(rig, test);
}

void CardWithoutPort(ServiceRig& rig, TestService&) {
    rig.AddCard();
    rig.serial.state().script().Fail("Open", 2, -1);
}

void InterrogateWhileStarting(ServiceRig& rig, TestService&) {
    // The start-time attempt waits to try again.
    ASSERT_TRUE(rig.sync.AwaitHeldWaits(1, ServiceRig::kRealTimeoutMs));
    EXPECT_EQ(rig.Send(service_control::kInterrogate), 0u);
    rig.Send(service_control::kStop);
}

void StopWhileStarting(ServiceRig& rig, TestService&) {
    auto sent = std::make_shared<std::atomic<bool>>(false);
    rig.services.script().OnCall("EnumServicesStatusW", [&rig, sent] {
        if (!sent->exchange(true)) {
            rig.Send(service_control::kStop);
        }
    });
}

void HoldRun(ServiceRig&, TestService& test) {
    test.release = std::promise<void>();  // Run goes on after the shutdown's close
}

void Shutdown(ServiceRig& rig, TestService& test) {
    ASSERT_TRUE(rig.AwaitRunning());
    EXPECT_EQ(rig.Send(service_control::kShutdown), 0u);
    EXPECT_FALSE(LogIsOpen());
    test.release.set_value();
}

void ExitCode2(ServiceRig&, TestService& test) {
    test.exitCode = 2;
}

void NoHandler(ServiceRig& rig, TestService&) {
    rig.host.script().Fail("RegisterServiceCtrlHandlerExW", 1063);
}

void NoStopEvent(ServiceRig& rig, TestService&) {
    rig.sync.script().Fail("CreateEvent", 1450);
}

void NoNewDeviceEvent(ServiceRig& rig, TestService&) {
    rig.sync.script().Fail("CreateEvent", 1450, 1, 4);  // after the stop event and the log's three
}

void WithTextOf0(ServiceRig& rig, TestService&) {
    rig.text.Add(0, L"The operation completed successfully.\r\n");
}

// A stop and a shutdown after the end report, as the dispatcher may still pass them on.
void StopAndShutdownAfterTheEnd(ServiceRig& rig, TestService& test) {
    StopWhenRunning(rig, test);
    ASSERT_TRUE(rig.host.AwaitState(kStopped, ServiceRig::kRealTimeoutMs));
    EXPECT_EQ(rig.Send(service_control::kStop), 0u);
    EXPECT_EQ(rig.Send(service_control::kShutdown), 0u);
}

void WaitFails(ServiceRig& rig, TestService&) {
    SetLogEnabled(false);  // no log writer: the run loop's wait is the first
    rig.sync.script().Fail("WaitAny", 6);
}

// The start reports of the loader service up to RUNNING, with no card; of TestService.
const std::vector<Report> kStart = {{kStartPending, 0x40, 1, 5000}, {kStartPending, 0x45, 2, 5000},
                                    {kStartPending, 0x45, 3, 5000}, {kStartPending, 0x45, 4, 5000},
                                    {kStartPending, 0x45, 5, 5000}, {kStartPending, 0x45, 6, 5000},
                                    {kRunning, 0x45, 0, 0}};
const std::vector<Report> kTestStart = {{kStartPending, 0, 1, 5000},
                                        {kStartPending, 5, 2, 5000},
                                        {kStartPending, 5, 3, 5000},
                                        {kRunning, 5, 0, 0}};

template <typename T>
std::vector<T> Concat(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Lines kStartLines = {L"Initializing service...", L"No Qualcomm Gobi devices found.",
                           L"Service successfully started!"};
const Lines kStopLines = {L"Stop signal received.", L"Stopping service...", L"Service stopped."};

// The reports after the start: a stop; two stops; an interrogate while running, then a stop.
const std::vector<Report> kStopped1 = Concat(
    kStart, {{kStopPending, 0x45, 7, 3000}, {kStopPending, 0x45, 8, 3000}, {kStopped, 0x45, 8, 0}});
const std::vector<Report> kStopped2 = Concat(kStart, {{kStopPending, 0x45, 7, 3000},
                                                      {kStopPending, 0x45, 8, 3000},
                                                      {kStopPending, 0x45, 9, 3000},
                                                      {kStopped, 0x45, 9, 0}});
const std::vector<Report> kInterrogated =
    Concat(kStart, {{kRunning, 0x45, 0, 0}, kStopped1[7], kStopped1[8], kStopped1[9]});
// A stop before RUNNING (from the enumeration of the chip maker's loaders): no RUNNING after
// STOP_PENDING, which would tell `Dovrand -stop` that the stop failed.
const std::vector<Report> kStoppedStarting =
    Concat(std::vector<Report>(kStart.begin(), kStart.end() - 2), {{kStopPending, 0x45, 6, 3000},
                                                                   {kStopPending, 0x45, 7, 3000},
                                                                   {kStopPending, 0x45, 8, 3000},
                                                                   {kStopped, 0x45, 8, 0}});
const Lines kInterrogatedStartingLines =
    Concat(Concat({L"Initializing service..."}, PreparedLines()),
           {L"cSerialPort.Open: Unable to open port \\\\.\\COM7\\QDLService. ErrorCode: 2",
            L"Unable to open port: COM7",
            L"Error occured while loading of firmware. Waiting 30 seconds to retry...",
            L"Stop signal received.", L"Service successfully started!", L"Stopping service...",
            L"Service stopped."});
const std::vector<Report> kNoNewDeviceEvent = {
    {kStartPending, 0x40, 1, 5000}, {kStartPending, 0x45, 2, 5000},
    {kStartPending, 0x45, 3, 5000}, {kStartPending, 0x45, 4, 5000},
    {kStartPending, 0x45, 5, 5000}, {kStopped, 0x45, 5, 0, 1066, 2}};
const Lines kNoNewDeviceEventLines = {L"Initializing service...",
                                      L"ERROR: Unable to create NewDeviceEvent (%E)",
                                      L"Service stopped with ExitCode = 2."};

Event Error(const wchar_t* text) {
    return Event{1, 0xC0020001, text};
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceHostTest,
    testing::Values(
        HostCase{"CleanStartAndStop",
                 true,
                 nullptr,
                 StopWhenRunning,
                 kStopped1,
                 Concat(kStartLines, kStopLines),
                 0,
                 {kNotice},
                 {}},
        // Nothing is reported after STOPPED.
        HostCase{"StopAndShutdownAfterTheEnd",
                 true,
                 nullptr,
                 StopAndShutdownAfterTheEnd,
                 kStopped1,
                 Concat(kStartLines, kStopLines),
                 0,
                 {kNotice},
                 {}},
        HostCase{"SecondStop",
                 true,
                 nullptr,
                 SecondStop,
                 kStopped2,
                 Concat(Concat(kStartLines, {L"Stop signal received."}), kStopLines),
                 0,
                 {kNotice},
                 {}},
        HostCase{"InterrogateWhileRunning",
                 true,
                 nullptr,
                 InterrogateWhileRunning,
                 kInterrogated,
                 Concat(kStartLines, kStopLines),
                 0,
                 {kNotice},
                 {}},
        // RUNNING comes before the start-time attempt: an interrogate during it reports RUNNING.
        HostCase{"InterrogateWhileStarting",
                 true,
                 CardWithoutPort,
                 InterrogateWhileStarting,
                 kInterrogated,
                 kInterrogatedStartingLines,
                 0,
                 {kNotice},
                 {}},
        HostCase{"StopBeforeRunning",
                 true,
                 StopWhileStarting,
                 nullptr,
                 kStoppedStarting,
                 {L"Initializing service...", L"Stop signal received.",
                  L"No Qualcomm Gobi devices found.", L"Service successfully started!",
                  L"Stopping service...", L"Service stopped."},
                 0,
                 {kNotice},
                 {}},
        HostCase{"ShutdownClosesTheLog",
                 false,
                 HoldRun,
                 Shutdown,
                 Concat(kTestStart, {{kStopPending, 5, 4, 3000}, {kStopped, 5, 4, 0}}),
                 {L"Initializing service...", L"Stop signal received."},
                 0,
                 {kNotice},
                 {1}},
        HostCase{"RunEndsWithExitCode2",
                 false,
                 ExitCode2,
                 StopWhenRunning,
                 Concat(kTestStart, {{kStopPending, 5, 4, 3000}, {kStopped, 5, 4, 0, 1066, 2}}),
                 {L"Initializing service...", L"Stop signal received.", L"Run ends.",
                  L"Service stopped with ExitCode = 2."},
                 0,
                 {kNotice},
                 {0}},
        HostCase{"FailedWaitEndsTheService",
                 true,
                 WaitFails,
                 nullptr,
                 Concat(kStart, {{kStopPending, 0x45, 7, 3000}, {kStopped, 0x45, 7, 0, 1066, 2}}),
                 {},
                 6,
                 {Error(L"WaitForMultipleObjects returned: %E")},
                 {}},
        HostCase{"HandlerNotRegistered",
                 true,
                 NoHandler,
                 nullptr,
                 {},
                 {},
                 1063,
                 {Error(L"RegisterServiceCtrlHandler returned: %E")},
                 {}},
        HostCase{"StopEventNotCreated",
                 true,
                 NoStopEvent,
                 nullptr,
                 {{kStartPending, 0x40, 1, 5000}, {kStopped, 0x40, 1, 0, 1066, 1450}},
                 {},
                 1450,
                 {Error(L"Unable to create StopEvent (%E)")},
                 {}},
        HostCase{"NewDeviceEventNotCreated",
                 true,
                 NoNewDeviceEvent,
                 nullptr,
                 kNoNewDeviceEvent,
                 kNoNewDeviceEventLines,
                 1450,
                 {kNotice, Error(L"Unable to create NewDeviceEvent (%E)")},
                 {}},
        // A failure is decided on the event, whatever the error code says.
        HostCase{"NewDeviceEventNotCreatedWithoutACode",
                 true,
                 WithTextOf0,
                 nullptr,
                 kNoNewDeviceEvent,
                 {L"Initializing service...",
                  L"ERROR: Unable to create NewDeviceEvent (The operation completed successfully. "
                  L"(0x0))",
                  L"Service stopped with ExitCode = 2."},
                 0,
                 {kNotice, Error(L"Unable to create NewDeviceEvent (The operation completed "
                                 L"successfully. (0x0))")},
                 {},
                 5}),  // after the stop event and the log's three
    [](const testing::TestParamInfo<HostCase>& info) { return info.param.name; });

}  // namespace
}  // namespace service_test

namespace service_test {
namespace {

// The end report is the service thread's last act: the stop event is closed before it. Once
// STOPPED is reported the dispatcher may return and the program exit, running the destructors of
// static objects; nothing may be left for the service thread to release then.
TEST(ServiceEndTest, StopEventClosedBeforeStoppedIsReported) {
    ServiceRig rig;
    TestService test;
    cWindowsService::SetInstance(&test);
    test.release.set_value();
    std::mutex mutex;
    std::vector<bool> open;  // at each report: the stop event held, its handle not closed
    rig.host.script().OnCall("SetServiceStatus", [&] {
        // The stop event is the first event ServiceMain makes.
        const bool now = TestService::StopEventOpen() || !rig.sync.EventClosed(1);
        std::lock_guard<std::mutex> lock(mutex);
        open.push_back(now);
    });
    rig.Start();
    ASSERT_TRUE(rig.AwaitRunning());
    rig.Send(service_control::kStop);
    rig.Join();
    ASSERT_EQ(rig.Reports(), Concat(kTestStart, {{kStopPending, 5, 4, 3000}, {kStopped, 5, 4, 0}}));
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(open, (std::vector<bool>{true, true, true, true, true, false}));
}

// Where the log goes, and what the event log is told, for the start keys and the program's path.
struct InitLogCase {
    const char* name;
    bool enabled;              // the start key -log
    std::wstring directory;    // its folder, as typed
    std::wstring modulePath;   // the program's path
    uint32_t truncationError;  // what the system says for a path cut to the buffer
    uint32_t moduleError;      // GetModuleFileNameW fails with this, unless 0
    std::wstring logPath;      // the log file made, empty for none
    uint32_t code;             // for %E
    std::vector<Event> events;
};

class InitLogTest : public testing::TestWithParam<InitLogCase> {};

TEST_P(InitLogTest, LogFileAndEvents) {
    const InitLogCase& c = GetParam();
    ServiceRig rig;
    rig.files.AddDirectory(L"C:\\my logs");
    rig.files.AddDirectory(L"C:\\" + std::wstring(230, L'x'));
    // Planted by someone else: a hard link under the log's name, a folder that is a junction.
    rig.files.AddDirectory(L"C:\\linked");
    rig.files.AddFile(L"C:\\linked\\Dovrand.log", {});
    rig.files.SetLinks(L"C:\\linked\\Dovrand.log", 2);
    rig.files.AddDirectory(L"C:\\junction");
    rig.files.SetAttributes(L"C:\\junction", 0x410);
    rig.process.SetModulePath(c.modulePath, c.truncationError);
    rig.process.SetLastError(3);
    if (c.moduleError != 0) {
        rig.process.script().Fail("GetModuleFileNameW", c.moduleError);
    }
    SetLogEnabled(c.enabled);
    std::wcscpy(LogDirectory(), c.directory.c_str());
    rig.Start();
    ASSERT_TRUE(rig.host.AwaitState(kRunning, ServiceRig::kRealTimeoutMs));
    rig.Send(service_control::kStop);
    rig.Join();

    EXPECT_EQ(Events(rig), Expand(c.events, c.code));
    if (!c.logPath.empty()) {
        const std::vector<std::wstring> lines =
            LogLines(DecodeUtf16Le(rig.files.Contents(c.logPath), 2));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), L"Initializing service...");
    }
    for (const std::wstring& path :
         {std::wstring(ServiceRig::kLogPath), std::wstring(L"C:\\my logs\\Dovrand.log"),
          std::wstring(L"C:\\linked\\Dovrand.log"), std::wstring(L"C:\\junction\\Dovrand.log")}) {
        if (path != c.logPath) {
            EXPECT_TRUE(rig.files.Contents(path).empty()) << path;
        }
    }
}

const std::wstring kLongFolder = L"C:\\" + std::wstring(230, L'x');

INSTANTIATE_TEST_SUITE_P(
    Cases, InitLogTest,
    testing::Values(
        InitLogCase{"FolderFromStartKey",
                    true,
                    L"C:\\logs",
                    L"D:\\Dovrand.exe",
                    122,
                    0,
                    ServiceRig::kLogPath,
                    0,
                    {kNotice}},
        InitLogCase{"ProgramFolder",
                    true,
                    L"",
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    0,
                    ServiceRig::kLogPath,
                    0,
                    {kNotice}},
        InitLogCase{
            "QuotedFolder",
            true,
            L"\"C:\\my logs\"",
            L"C:\\logs\\Dovrand.exe",
            122,
            0,
            L"C:\\my logs\\Dovrand.log",
            0,
            {{4, 0x40020002, L"Dovrand Service\nLog file created: 'C:\\my logs\\Dovrand.log'"}}},
        InitLogCase{"NoLogKey", false, L"", L"C:\\logs\\Dovrand.exe", 122, 0, L"", 0, {}},
        InitLogCase{"ModulePathTooLong",
                    true,
                    L"",
                    L"C:\\logs\\" + std::wstring(300, L'p') + L".exe",
                    122,
                    0,
                    L"",
                    122,
                    {{1, 0xC0020001, L"unable to get process module dir (%E)"}}},
        InitLogCase{"ModulePathTooLongOnOlderSystems",
                    true,
                    L"",
                    L"C:\\logs\\" + std::wstring(251, L'p') + L".exe",
                    0,
                    0,
                    L"",
                    122,
                    {{1, 0xC0020001, L"unable to get process module dir (%E)"}}},
        InitLogCase{"ModulePathNotRead",
                    true,
                    L"",
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    5,
                    L"",
                    5,
                    {{1, 0xC0020001, L"unable to get process module dir (%E)"}}},
        InitLogCase{"LogFileNotCreated",
                    true,
                    L"C:\\no\\such",
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    0,
                    L"",
                    3,
                    {{1, 0xC0020001, L"unable to create File Log (%E)"}}},
        InitLogCase{"HardLinkedLogRefused",
                    true,
                    L"C:\\linked",
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    0,
                    L"",
                    0,
                    {{1, 0xC0020001,
                      L"unable to create File Log (C:\\linked\\Dovrand.log: the file has more than "
                      L"one link (a hard link to another file))"}}},
        InitLogCase{"JunctionFolderRefused",
                    true,
                    L"C:\\junction",
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    0,
                    L"",
                    0,
                    {{1, 0xC0020001,
                      L"unable to create File Log (C:\\junction: the folder is a reparse point (a "
                      L"junction or a link to another folder))"}}},
        InitLogCase{"NoticeCutToItsBuffer",
                    true,
                    kLongFolder,
                    L"C:\\logs\\Dovrand.exe",
                    122,
                    0,
                    L"",
                    0,
                    {{4, 0x40020002,
                      (L"Dovrand Service\nLog file created: '" + kLongFolder + L"\\Dovrand.log'")
                          .substr(0, 259)}}}),
    [](const testing::TestParamInfo<InitLogCase>& info) { return info.param.name; });

TEST(ReportErrorTest, EventCutToItsBuffer) {
    ServiceRig rig;
    rig.text.Add(3, std::wstring(2000, L'e') + L"\r\n");
    rig.process.SetLastError(3);
    std::wcscpy(LogDirectory(), L"C:\\no\\such");
    rig.Start();
    ASSERT_TRUE(rig.host.AwaitState(kRunning, ServiceRig::kRealTimeoutMs));
    rig.Send(service_control::kStop);
    rig.Join();
    const std::wstring message = L"unable to create File Log (" + std::wstring(ErrorText(3)) + L")";
    ASSERT_EQ(rig.events.events().size(), 1u);
    EXPECT_EQ(rig.events.events()[0].text, message.substr(0, 1023));
}

}  // namespace
}  // namespace service_test
