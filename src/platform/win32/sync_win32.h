// Threads, events, waits and critical sections over the Win32 calls.
#pragma once

#include "platform/win32/windows_api.h"

#include "platform/sync.h"

namespace platform::win32 {

class Win32Sync : public Sync {
  public:
    std::unique_ptr<Event> CreateEvent(bool manualReset, bool initiallySet,
                                       ErrorCode* error) override;
    WaitResult WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) override;
    std::unique_ptr<Lock> CreateLock(uint32_t spinCount, ErrorCode* error) override;
    std::unique_ptr<Thread> StartThread(std::function<void()> body, ErrorCode* error) override;
};

// The HANDLE of an event of Win32Sync.
HANDLE EventHandle(Event* event);

// Maps the result of WaitForMultipleObjects over count handles.
WaitResult FromWaitResult(DWORD result, size_t count);

}  // namespace platform::win32
