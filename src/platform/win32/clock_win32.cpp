#include "platform/win32/clock_win32.h"

#include <cstdint>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

LocalTime Win32Clock::Now() {
    FILETIME utc;
    GetSystemTimeAsFileTime(&utc);
    constexpr uint64_t kTicksPerMillisecond = 10000;  // FILETIME counts 100 ns
    constexpr uint64_t kTicksPerSecond = 1000 * kTicksPerMillisecond;
    const uint64_t ticks = (uint64_t{utc.dwHighDateTime} << 32) | utc.dwLowDateTime;
    // The local broken-down time changes once a second, and making it costs a look at the time
    // zone (under Wine several registry reads): each thread keeps the last one it made.
    thread_local uint64_t cachedSecond = UINT64_MAX;
    thread_local SYSTEMTIME local{};
    const uint64_t second = ticks / kTicksPerSecond;
    if (second != cachedSecond) {
        const uint64_t whole = second * kTicksPerSecond;
        const FILETIME wholeUtc{static_cast<DWORD>(whole), static_cast<DWORD>(whole >> 32)};
        FILETIME wholeLocal;
        if (!FileTimeToLocalFileTime(&wholeUtc, &wholeLocal) ||
            !FileTimeToSystemTime(&wholeLocal, &local)) {
            SYSTEMTIME now;
            GetLocalTime(&now);  // not expected; the time as the system gives it, not kept
            return LocalTime{now.wYear,   now.wMonth,  now.wDay,         now.wHour,
                             now.wMinute, now.wSecond, now.wMilliseconds};
        }
        cachedSecond = second;
    }
    return LocalTime{local.wYear,
                     local.wMonth,
                     local.wDay,
                     local.wHour,
                     local.wMinute,
                     local.wSecond,
                     static_cast<int>(ticks / kTicksPerMillisecond % 1000)};
}

}  // namespace platform::win32
