// Threads, events, waits and locks on Linux. An event is an eventfd, so that a device's wait
// can poll its own file descriptor together with an event.
#pragma once

#include "platform/sync.h"

namespace platform::posix {

class PosixSync : public Sync {
  public:
    std::unique_ptr<Event> CreateEvent(bool manualReset, bool initiallySet,
                                       ErrorCode* error) override;
    WaitResult WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) override;
    std::unique_ptr<Lock> CreateLock(uint32_t spinCount, ErrorCode* error) override;
    std::unique_ptr<Thread> StartThread(std::function<void()> body, ErrorCode* error) override;
};

// The file descriptor of an event of PosixSync: readable while the event is set.
int EventFd(Event* event);
// Takes the signal of an event that poll found readable: true when it was still set (an
// automatic-reset event is cleared by this; a manual-reset one stays set).
bool TryConsume(Event* event);

}  // namespace platform::posix
