// Serial devices over the Win32 communications calls, with overlapped I/O.
#pragma once

#include "platform/serial.h"

namespace platform::win32 {

class Win32SerialPorts : public SerialPorts {
  public:
    std::unique_ptr<SerialDevice> Open(const std::wstring& devicePath, Event* ioEvent,
                                       ErrorCode* error) override;
};

}  // namespace platform::win32
