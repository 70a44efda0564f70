// Local time over the Win32 calls.
#pragma once

#include "platform/clock.h"

namespace platform::win32 {

class Win32Clock : public Clock {
  public:
    LocalTime Now() override;
};

}  // namespace platform::win32
