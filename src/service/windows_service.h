// The frame of a Windows service in a process of its own: the status record and its reports,
// the control handler, the stop event, the log's opening and closing, and the event log. The work
// comes from a derived class through seven virtual operations.
#pragma once

#include <cstdint>
#include <memory>

#include "log/log.h"
#include "platform/service_host.h"
#include "platform/service_manager.h"

namespace platform {
class Event;
}

// Service states and accepted controls, as the service control manager knows them.
namespace service_state {
using platform::service::kRunning;
using platform::service::kStartPending;
using platform::service::kStopped;
using platform::service::kStopPending;
using platform::service::kWin32OwnProcess;
constexpr uint32_t kAcceptStop = 0x1;
constexpr uint32_t kAcceptShutdown = 0x4;
constexpr uint32_t kAcceptPowerEvent = 0x40;
constexpr uint32_t kServiceSpecificError = 1066;  // ERROR_SERVICE_SPECIFIC_ERROR
}  // namespace service_state

// Controls and results of the control handler.
namespace service_control {
constexpr uint32_t kStop = 1;
constexpr uint32_t kInterrogate = 4;
constexpr uint32_t kShutdown = 5;
constexpr uint32_t kDeviceEvent = 11;
constexpr uint32_t kPowerEvent = 13;
constexpr uint32_t kCallNotImplemented = 120;  // ERROR_CALL_NOT_IMPLEMENTED
}  // namespace service_control

// Event-log types and the ids of the executable's message table.
namespace event_log {
constexpr uint16_t kError = 1;        // EVENTLOG_ERROR_TYPE
constexpr uint16_t kWarning = 2;      // EVENTLOG_WARNING_TYPE
constexpr uint16_t kInformation = 4;  // EVENTLOG_INFORMATION_TYPE
constexpr uint32_t kErrorId = 0xC0020001;
constexpr uint32_t kInformationId = 0x40020002;
constexpr uint32_t kOtherId = 0x40020003;
}  // namespace event_log

class cWindowsService {
  public:
    cWindowsService() = default;
    virtual ~cWindowsService() = default;
    cWindowsService(const cWindowsService&) = delete;
    cWindowsService& operator=(const cWindowsService&) = delete;

    // The service's work; reports the rest of the start and the running state itself and
    // returns, with its exit code (0 for a clean stop), once the stop event is set.
    virtual uint32_t Run(uint32_t argc, wchar_t** argv) = 0;
    // Every control other than stop, interrogate and shutdown; 0 or a Windows error code.
    virtual uint32_t OnControl(uint32_t control, uint32_t eventType, void* eventData,
                               void* context) = 0;
    // Cuts short the work in progress after the stop event has been set.
    virtual void OnStop(uint32_t isShutdown) = 0;
    // The controls accepted besides stop and shutdown, which the host adds itself.
    virtual uint32_t GetControlsAccepted() = 0;
    virtual const wchar_t* GetTitle() = 0;
    virtual const wchar_t* GetServiceName() = 0;
    virtual const wchar_t* GetDisplayName() = 0;

    // The service entry point that the dispatcher runs on the service thread (the Win32 adapter
    // wraps it in a function of the dispatcher's calling convention).
    static void ServiceMain(uint32_t argc, wchar_t** argv);
    // The extended control handler; context is the service object.
    static uint32_t ControlHandler(uint32_t control, uint32_t eventType, void* eventData,
                                   void* context);

    // The one service object that ServiceMain works on (null: ServiceMain does nothing).
    static cWindowsService* Instance();
    static void SetInstance(cWindowsService* service);
    // The class-wide state as a new process has it, except the instance pointer: check-point
    // counter 1, shutdown flag 0, no stop event. For tests, which run many services in turn.
    static void ResetClassState();

  protected:
    // Re-reports the record: with check point 0 when running or stopped, else a fresh one.
    void ReportStatus();
    // Sets the current state and the wait hint, then reports as ReportStatus does.
    void ReportState(uint32_t state, uint32_t waitHint);
    // Reports RUNNING (wait hint 0), unless a stop has begun: a RUNNING after STOP_PENDING would
    // tell whoever waits for the stop that it failed.
    void ReportRunning();
    platform::StatusHandle StatusHandle();
    // The stop event, from ServiceMain's creation until just before its end report; else null.
    static platform::Event* StopEvent();

    // One event-log record of the given type with the text as its insertion string.
    void WriteEventLog(const wchar_t* text, uint16_t type);
    // An error line in the log and the same message, cut to 1023 characters, as an error event.
    template <typename... Args>
    void ReportError(const wchar_t* format, Args... args) {
        static_assert((log_detail::kLogArgument<Args> && ...),
                      "log arguments are integers of at most 32 bits and wide strings");
        ReportErrorUnchecked(format, args...);
    }

  private:
    void ReportErrorUnchecked(const wchar_t* format, ...);
    void Main(uint32_t argc, wchar_t** argv);
    void InitLog();
    void ReportEnd(uint32_t exitCode);
    void StopSequence();
    // With the status lock held: draws a check point for the pending states, 0 otherwise, and
    // reports.
    void ReportLocked();

    platform::ServiceStatus status_;
    platform::StatusHandle statusHandle_ = 0;
};
