#include "platform/posix/clock_posix.h"

#include <ctime>

namespace platform::posix {

LocalTime PosixClock::Now() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // The broken-down time changes once a second: each thread keeps the last one it made.
    thread_local time_t cachedSecond = -1;
    thread_local tm local;
    if (now.tv_sec != cachedSecond) {
        localtime_r(&now.tv_sec, &local);
        cachedSecond = now.tv_sec;
    }
    return LocalTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000)};
}

}  // namespace platform::posix
