// A service control manager as the service sees it: records the handler's registration and
// every status report, and sends controls to the registered handler as the dispatcher would.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/service_host.h"

namespace platform::fake {

// Calls that can be scripted to fail: "RegisterServiceCtrlHandlerExW", "SetServiceStatus" (the
// report is recorded all the same).
class FakeServiceHost : public ServiceHost {
  public:
    static constexpr StatusHandle kHandle = 0x5EC;

    ErrorCode RegisterControlHandler(const wchar_t* name, ControlHandlerFunction handler,
                                     void* context, StatusHandle* handle) override;
    ErrorCode SetStatus(StatusHandle handle, const ServiceStatus& status) override;

    // Calls the registered handler (the dispatcher thread's part); 1 (ERROR_INVALID_FUNCTION)
    // when none is registered.
    uint32_t Send(uint32_t control, uint32_t eventType = 0, void* eventData = nullptr);

    std::vector<ServiceStatus> reports() const;
    std::vector<StatusHandle> report_handles() const;
    std::wstring registered_name() const;
    // Blocks until a report of the state has been made, at most timeoutMs of real time.
    bool AwaitState(uint32_t state, uint32_t timeoutMs);
    // Blocks until `count` reports have been made, at most timeoutMs of real time.
    bool AwaitReports(size_t count, uint32_t timeoutMs);

    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    mutable std::mutex mutex_;
    std::condition_variable reported_;
    std::wstring name_;
    ControlHandlerFunction handler_ = nullptr;
    void* context_ = nullptr;
    std::vector<ServiceStatus> reports_;
    std::vector<StatusHandle> handles_;
};

}  // namespace platform::fake
