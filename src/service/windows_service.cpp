#include "service/windows_service.h"

#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <vector>

#include "log/start_keys.h"
#include "platform/critical_section.h"
#include "platform/event_log.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/sync.h"

namespace {

constexpr uint32_t kStartWaitHintMs = 5000;
constexpr uint32_t kStopWaitHintMs = 3000;
constexpr uint32_t kShutdownLogCloseMs = 1000;
// The close at the end waits this long for a log writer that is in the middle of a write (a log
// folder on a share that no longer answers), so that the end is still reported; what that writer
// has not written by then it writes itself while the process lives.
constexpr uint32_t kEndLogCloseMs = 2000;
constexpr size_t kNoticeChars = 260;
constexpr size_t kErrorEventChars = 1024;

// The class-wide state of the host. The status lock serialises every change of the status record
// with its report, the check-point counter, and the life of the stop event against the control
// handler that sets it.
//
// It is made on first use and never destroyed. Once the end is reported the dispatcher may
// return and the program's exit run the destructors of static objects while the service thread
// is still leaving the lock of that last report: a lock that is a static object could be deleted
// under it. So the state outlives every thread, and ServiceMain closes the stop event before it
// reports the end, leaving nothing for the exit and the service thread to release twice.
struct ClassState {
    platform::CriticalSection statusLock;
    uint32_t checkPoint = 1;
    std::unique_ptr<platform::Event> stopEvent;
};

ClassState& State() {
    static ClassState* const state = new ClassState;  // deliberately never deleted
    return *state;
}

std::atomic<cWindowsService*> g_instance{nullptr};
std::atomic<uint32_t> g_shutdown{0};

// Formats into target (size characters, terminator included); a longer message is cut to fit.
void FormatCut(wchar_t* target, size_t size, const wchar_t* format, va_list args) {
    target[0] = L'\0';
    for (size_t room = size; room <= (size_t{1} << 20); room *= 4) {
        std::vector<wchar_t> line(room);
        va_list copy;
        va_copy(copy, args);
        const int length = std::vswprintf(line.data(), room, format, copy);
        va_end(copy);
        if (length >= 0 && static_cast<size_t>(length) < room) {
            const size_t kept = static_cast<size_t>(length) < size ? length : size - 1;
            std::wmemcpy(target, line.data(), kept);
            target[kept] = L'\0';
            return;
        }
    }
}

void FormatCutV(wchar_t* target, size_t size, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    FormatCut(target, size, format, args);
    va_end(args);
}

}  // namespace

cWindowsService* cWindowsService::Instance() {
    return g_instance.load();
}

void cWindowsService::SetInstance(cWindowsService* service) {
    g_instance.store(service);
}

void cWindowsService::ResetClassState() {
    ClassState& state = State();
    platform::LockGuard lock(state.statusLock);
    state.checkPoint = 1;
    g_shutdown = 0;
    state.stopEvent.reset();
}

platform::StatusHandle cWindowsService::StatusHandle() {
    platform::LockGuard lock(State().statusLock);
    return statusHandle_;
}

platform::Event* cWindowsService::StopEvent() {
    ClassState& state = State();
    platform::LockGuard lock(state.statusLock);
    return state.stopEvent.get();
}

void cWindowsService::ReportLocked() {
    if (status_.currentState == service_state::kRunning ||
        status_.currentState == service_state::kStopped) {
        status_.checkPoint = 0;
    } else {
        status_.checkPoint = State().checkPoint++;
    }
    platform::Get().serviceHost->SetStatus(statusHandle_, status_);
}

void cWindowsService::ReportStatus() {
    platform::LockGuard lock(State().statusLock);
    ReportLocked();
}

void cWindowsService::ReportState(uint32_t state, uint32_t waitHint) {
    platform::LockGuard lock(State().statusLock);
    status_.currentState = state;
    status_.waitHint = waitHint;
    ReportLocked();
}

void cWindowsService::ReportRunning() {
    platform::LockGuard lock(State().statusLock);
    if (status_.currentState == service_state::kStopPending) {
        return;
    }
    status_.currentState = service_state::kRunning;
    status_.waitHint = 0;
    ReportLocked();
}

void cWindowsService::ReportEnd(uint32_t exitCode) {
    platform::LockGuard lock(State().statusLock);
    status_.currentState = service_state::kStopped;
    status_.win32ExitCode = exitCode != 0 ? service_state::kServiceSpecificError : 0;
    status_.serviceSpecificExitCode = exitCode;
    status_.waitHint = 0;
    platform::Get().serviceHost->SetStatus(statusHandle_, status_);
}

void cWindowsService::ServiceMain(uint32_t argc, wchar_t** argv) {
    cWindowsService* service = Instance();
    if (service == nullptr) {
        return;
    }
    service->Main(argc, argv);
}

void cWindowsService::Main(uint32_t argc, wchar_t** argv) {
    const platform::Platform& p = platform::Get();
    platform::StatusHandle handle = 0;
    const platform::ErrorCode registered =
        p.serviceHost->RegisterControlHandler(GetServiceName(), &ControlHandler, this, &handle);
    if (registered != 0) {
        ReportError(L"RegisterServiceCtrlHandler returned: %ls", ErrorText(registered));
        return;
    }
    ClassState& state = State();
    {
        platform::LockGuard lock(state.statusLock);
        statusHandle_ = handle;
        status_.serviceType = service_state::kWin32OwnProcess;
        status_.controlsAccepted = GetControlsAccepted();
        status_.win32ExitCode = 0;
        status_.serviceSpecificExitCode = 0;
        status_.currentState = service_state::kStartPending;
        status_.waitHint = kStartWaitHintMs;
        ReportLocked();
    }

    platform::ErrorCode error = 0;
    std::unique_ptr<platform::Event> stopEvent = p.sync->CreateEvent(true, false, &error);
    if (!stopEvent) {
        ReportError(L"Unable to create StopEvent (%ls)", ErrorText(error));
        ReportEnd(error);
        return;
    }
    {
        platform::LockGuard lock(state.statusLock);
        state.stopEvent = std::move(stopEvent);
        status_.controlsAccepted |= service_state::kAcceptStop | service_state::kAcceptShutdown;
        ReportLocked();
    }

    InitLog();
    LogWrite(L"Initializing service...");
    ReportStatus();

    const uint32_t exitCode = Run(argc, argv);
    if (exitCode == 0) {
        LogWrite(L"Service stopped.");
    } else {
        LogWrite(L"Service stopped with ExitCode = %d.", static_cast<int32_t>(exitCode));
    }
    LogClose(kEndLogCloseMs);
    std::unique_ptr<platform::Event> closing;
    {
        platform::LockGuard lock(state.statusLock);
        closing = std::move(state.stopEvent);
    }
    closing.reset();
    // The service thread's last act: after it the process may end at any moment.
    ReportEnd(exitCode);
}

uint32_t cWindowsService::ControlHandler(uint32_t control, uint32_t eventType, void* eventData,
                                         void* context) {
    auto* service = static_cast<cWindowsService*>(context);
    switch (control) {
        case service_control::kStop:
            service->StopSequence();
            return 0;
        case service_control::kInterrogate:
            service->ReportStatus();
            return 0;
        case service_control::kShutdown:
            g_shutdown = 1;
            service->StopSequence();
            return 0;
        default:
            return service->OnControl(control, eventType, eventData, context);
    }
}

void cWindowsService::StopSequence() {
    {
        ClassState& state = State();
        platform::LockGuard lock(state.statusLock);
        // After the end report the service is gone for the service manager: a stop or shutdown
        // that comes then is not to bring a STOP_PENDING after STOPPED, nor to cut anything.
        if (status_.currentState == service_state::kStopped) {
            return;
        }
        LogWrite(L"Stop signal received.");
        status_.serviceSpecificExitCode = 0;
        status_.currentState = service_state::kStopPending;
        status_.waitHint = kStopWaitHintMs;
        ReportLocked();
        if (state.stopEvent) {
            state.stopEvent->Set();
        }
    }
    const uint32_t shutdown = g_shutdown.load();
    OnStop(shutdown);
    if (shutdown != 0) {
        LogClose(kShutdownLogCloseMs);
    }
}

void cWindowsService::InitLog() {
    const platform::Platform& p = platform::Get();
    wchar_t(&directory)[kLogDirectoryChars] = LogDirectory();
    if (directory[0] != L'\0') {
        p.process->UnquoteSpaces(directory);
    }
    if (directory[0] == L'\0') {
        platform::ErrorCode error = 0;
        const uint32_t length = p.process->ModuleFileName(directory, kLogDirectoryChars, &error);
        // A path cut to the buffer's size (with or without its terminator) is no path.
        if (length == 0 || length >= kLogDirectoryChars) {
            if (error == 0) {
                error = platform::error::kInsufficientBuffer;
            }
            ReportError(L"unable to get process module dir (%ls)", ErrorText(error));
            directory[0] = L'\0';
            return;
        }
        directory[length] = L'\0';
        wchar_t* slash = std::wcsrchr(directory, L'\\');
        *(slash != nullptr ? slash : directory) = L'\0';
    }

    LogRefusal refusal;
    const int32_t opened = LogOpen(GetServiceName(), directory, &refusal);
    if (opened == kLogRefused) {
        ReportError(L"unable to create File Log (%ls: %ls)", refusal.path.c_str(),
                    refusal.reason.c_str());
        return;
    }
    if (opened < 0) {
        ReportError(L"unable to create File Log (%ls)", ErrorText(p.process->LastError()));
        return;
    }
    if (!LogIsOpen()) {
        return;
    }
    wchar_t notice[kNoticeChars];
    FormatCutV(notice, kNoticeChars, L"%ls\nLog file created: '%ls\\%ls.log'", GetDisplayName(),
               directory, GetServiceName());
    WriteEventLog(notice, event_log::kInformation);
}

void cWindowsService::WriteEventLog(const wchar_t* text, uint16_t type) {
    const uint32_t id = type == event_log::kError         ? event_log::kErrorId
                        : type == event_log::kInformation ? event_log::kInformationId
                                                          : event_log::kOtherId;
    platform::ErrorCode error = 0;
    std::unique_ptr<platform::EventSource> source =
        platform::Get().eventLog->RegisterSource(GetServiceName(), &error);
    if (!source) {
        return;
    }
    source->Report(type, id, text);
}

void cWindowsService::ReportErrorUnchecked(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    va_list forLog;
    va_copy(forLog, args);
    WriteV(true, format, forLog);
    va_end(forLog);
    wchar_t message[kErrorEventChars];
    FormatCut(message, kErrorEventChars, format, args);
    va_end(args);
    WriteEventLog(message, event_log::kError);
}
