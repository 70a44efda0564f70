#include "platform/win32/service_host_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

DWORD WINAPI HandlerEx(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context) {
    const auto* registration = static_cast<const Win32ServiceHost::Registration*>(context);
    return registration->handler(control, eventType, eventData, registration->context);
}

}  // namespace

ErrorCode Win32ServiceHost::RegisterControlHandler(const wchar_t* name,
                                                   ControlHandlerFunction handler, void* context,
                                                   StatusHandle* handle) {
    Registration* registration = nullptr;
    {
        platform::LockGuard lock(mutex_);
        registration = &registrations_.emplace_back(Registration{handler, context});
    }
    SERVICE_STATUS_HANDLE result = RegisterServiceCtrlHandlerExW(name, HandlerEx, registration);
    if (result == nullptr) {
        return GetLastError();
    }
    *handle = reinterpret_cast<StatusHandle>(result);
    return 0;
}

ErrorCode Win32ServiceHost::SetStatus(StatusHandle handle, const ServiceStatus& status) {
    SERVICE_STATUS record;
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = status.currentState;
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    if (!SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record)) {
        return GetLastError();
    }
    return 0;
}

}  // namespace platform::win32
