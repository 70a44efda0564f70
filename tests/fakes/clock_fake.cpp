#include "fakes/clock_fake.h"

namespace platform::fake {

LocalTime FakeClock::Now() {
    std::lock_guard<std::mutex> lock(mutex_);
    return time_;
}

void FakeClock::Set(const LocalTime& time) {
    std::lock_guard<std::mutex> lock(mutex_);
    time_ = time;
}

}  // namespace platform::fake
