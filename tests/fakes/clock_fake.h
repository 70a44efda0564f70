// A clock that shows the time it is told.
#pragma once

#include <mutex>

#include "platform/clock.h"

namespace platform::fake {

class FakeClock : public Clock {
  public:
    LocalTime Now() override;
    void Set(const LocalTime& time);

  private:
    std::mutex mutex_;
    LocalTime time_{2010, 3, 5, 14, 7, 9, 42};
};

}  // namespace platform::fake
