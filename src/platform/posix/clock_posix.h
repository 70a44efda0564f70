#pragma once

#include "platform/clock.h"

namespace platform::posix {

class PosixClock : public Clock {
  public:
    LocalTime Now() override;
};

}  // namespace platform::posix
