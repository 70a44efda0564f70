// Present COM-port device interfaces over SetupAPI.
#pragma once

#include "platform/devices.h"

namespace platform::win32 {

class Win32DeviceInterfaces : public DeviceInterfaces {
  public:
    std::unique_ptr<DeviceInterfaceSet> OpenPresentComPorts(ErrorCode* error) override;
};

}  // namespace platform::win32
