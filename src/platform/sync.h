// Threads, events, waits and locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/types.h"

namespace platform {

// A Win32 event: manual reset (stays set until Reset) or automatic reset (a wait that
// returns it clears it, so one Set ends exactly one wait).
class Event {
  public:
    virtual ~Event() = default;
    virtual bool Set() = 0;
    virtual bool Reset() = 0;
};

enum class WaitStatus {
    kSignaled,  // events[index] fired; for several, the lowest index among those set
    kTimeout,
    kFailed,  // code holds the error code (WAIT_FAILED)
    kOther,   // code holds the raw wait result (for example WAIT_ABANDONED)
};

struct WaitResult {
    WaitStatus status;
    uint32_t index;
    uint32_t code;
};

enum class ThreadPriority { kLowest, kNormal, kHighest };

class Thread {
  public:
    // Destroying a thread that has not ended only lets go of it; the thread runs on.
    virtual ~Thread() = default;
    virtual bool SetPriority(ThreadPriority priority) = 0;
    // True when the thread has ended within the time limit (kInfinite: no limit).
    virtual bool Join(uint32_t timeoutMs) = 0;
};

// A critical section.
class Lock {
  public:
    virtual ~Lock() = default;
    virtual void Enter() = 0;
    virtual bool TryEnter() = 0;
    virtual void Leave() = 0;
};

class Sync {
  public:
    virtual ~Sync() = default;
    // CreateEventW, unnamed. Null with *error set on failure.
    virtual std::unique_ptr<Event> CreateEvent(bool manualReset, bool initiallySet,
                                               ErrorCode* error) = 0;
    // WaitForMultipleObjects, any of them. The events must come from this Sync.
    virtual WaitResult WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) = 0;
    // InitializeCriticalSectionAndSpinCount.
    virtual std::unique_ptr<Lock> CreateLock(uint32_t spinCount, ErrorCode* error) = 0;
    // _beginthreadex, running at once. Null with *error set on failure.
    virtual std::unique_ptr<Thread> StartThread(std::function<void()> body, ErrorCode* error) = 0;
};

// Holds a lock for the lifetime of the guard.
class LockGuard {
  public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~LockGuard() { lock_.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

  private:
    Lock& lock_;
};

}  // namespace platform
