// Serial devices on a host tty (a pty in tests), behaving as the Win32 port does: one
// overlapped-style write or read at a time that goes on while the caller waits for it and a
// cancel event together.
//
// Device paths map as a Wine prefix's dosdevices folder does: "\\.\NAME\REST" is the host path
// "$DOVRAND_DOSDEVICES/<NAME in lower case>/REST" with backslashes turned into slashes
// (DOVRAND_DOSDEVICES defaults to /tmp/dovrand/dosdevices). So "\\.\COM7\QDLService" opens
// <dosdevices>/com7/QDLService, which is typically a symlink to /dev/pts/N. Any other path is
// taken as a host path (backslashes turned into slashes).
#pragma once

#include <string>

#include "platform/serial.h"

namespace platform::posix {

class PosixSerialPorts : public SerialPorts {
  public:
    std::unique_ptr<SerialDevice> Open(const std::wstring& devicePath, Event* ioEvent,
                                       ErrorCode* error) override;
};

std::string SerialDevicePath(const std::wstring& devicePath);

}  // namespace platform::posix
