// The service control manager over the advapi32 service calls.
#pragma once

#include "platform/service_manager.h"

namespace platform::win32 {

class Win32ServiceManager : public ServiceManager {
  public:
    std::unique_ptr<ServiceDatabase> Open(uint32_t access, ErrorCode* error) override;
    ErrorCode RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;
};

}  // namespace platform::win32
