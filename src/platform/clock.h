// Local wall-clock time, to the millisecond.
#pragma once

namespace platform {

struct LocalTime {
    int year;
    int month;  // 1..12
    int day;    // 1..31
    int hour;   // 0..23
    int minute;
    int second;
    int milliseconds;  // 0..999
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime Now() = 0;  // GetLocalTime
};

}  // namespace platform
