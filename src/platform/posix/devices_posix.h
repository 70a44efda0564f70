// Present COM-port device interfaces on the host: none, unless $DOVRAND_DEVICES names a folder.
// Then each regular file in it, in the order of the file names, is one active interface whose
// device path is the file's first line (ASCII; each byte is one character), for example
// \\?\usb#vid_05c6&pid_9204#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}.
#pragma once

#include "platform/devices.h"

namespace platform::posix {

class PosixDeviceInterfaces : public DeviceInterfaces {
  public:
    std::unique_ptr<DeviceInterfaceSet> OpenPresentComPorts(ErrorCode* error) override;
};

}  // namespace platform::posix
