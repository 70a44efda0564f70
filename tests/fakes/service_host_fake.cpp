#include "fakes/service_host_fake.h"

#include <algorithm>
#include <chrono>

namespace platform::fake {

ErrorCode FakeServiceHost::RegisterControlHandler(const wchar_t* name,
                                                  ControlHandlerFunction handler, void* context,
                                                  StatusHandle* handle) {
    if (ErrorCode code = script_.Check("RegisterServiceCtrlHandlerExW"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    name_ = name;
    handler_ = handler;
    context_ = context;
    *handle = kHandle;
    return 0;
}

ErrorCode FakeServiceHost::SetStatus(StatusHandle handle, const ServiceStatus& status) {
    const ErrorCode code = script_.Check("SetServiceStatus");
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(status);
    handles_.push_back(handle);
    reported_.notify_all();
    return code;
}

uint32_t FakeServiceHost::Send(uint32_t control, uint32_t eventType, void* eventData) {
    ControlHandlerFunction handler;
    void* context;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        handler = handler_;
        context = context_;
    }
    constexpr uint32_t kInvalidFunction = 1;
    return handler != nullptr ? handler(control, eventType, eventData, context) : kInvalidFunction;
}

std::vector<ServiceStatus> FakeServiceHost::reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

std::vector<StatusHandle> FakeServiceHost::report_handles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_;
}

std::wstring FakeServiceHost::registered_name() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return name_;
}

bool FakeServiceHost::AwaitState(uint32_t state, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return reported_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
        return std::any_of(reports_.begin(), reports_.end(),
                           [&](const ServiceStatus& s) { return s.currentState == state; });
    });
}

bool FakeServiceHost::AwaitReports(size_t count, uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return reported_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return reports_.size() >= count; });
}

}  // namespace platform::fake
