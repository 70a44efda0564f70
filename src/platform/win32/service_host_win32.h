// The control handler's registration and the status reports over the Win32 calls.
#pragma once

#include <list>

#include "platform/critical_section.h"
#include "platform/service_host.h"

namespace platform::win32 {

class Win32ServiceHost : public ServiceHost {
  public:
    ErrorCode RegisterControlHandler(const wchar_t* name, ControlHandlerFunction handler,
                                     void* context, StatusHandle* handle) override;
    ErrorCode SetStatus(StatusHandle handle, const ServiceStatus& status) override;

    // The handler and context of one registration, passed as the Win32 handler's context; kept
    // for the process's lifetime, as the registration is.
    struct Registration {
        ControlHandlerFunction handler;
        void* context;
    };

  private:
    platform::CriticalSection mutex_;
    std::list<Registration> registrations_;
};

}  // namespace platform::win32
