// What a service tells the service control manager about itself: the registration of its
// control handler and its status reports (RegisterServiceCtrlHandlerExW, SetServiceStatus).
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

// SERVICE_STATUS: seven unsigned 32-bit fields in the Windows order.
struct ServiceStatus {
    uint32_t serviceType = 0;
    uint32_t currentState = 0;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// SERVICE_STATUS_HANDLE, opaque; 0 is none. Also the recipient of device notifications.
using StatusHandle = uintptr_t;

// The extended control handler (LPHANDLER_FUNCTION_EX) without its calling convention: the
// adapter calls it from a handler of its own.
using ControlHandlerFunction = uint32_t (*)(uint32_t control, uint32_t eventType, void* eventData,
                                            void* context);

class ServiceHost {
  public:
    virtual ~ServiceHost() = default;
    // RegisterServiceCtrlHandlerExW: the handler is called with `context` for every control of
    // the service `name`. Sets *handle on success.
    virtual ErrorCode RegisterControlHandler(const wchar_t* name, ControlHandlerFunction handler,
                                             void* context, StatusHandle* handle) = 0;
    // SetServiceStatus.
    virtual ErrorCode SetStatus(StatusHandle handle, const ServiceStatus& status) = 0;
};

}  // namespace platform
