// Threads, events, waits and locks built on the standard library, with every call able to
// fail on demand. They work for real, so code that runs threads can be tested with them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/sync.h"

namespace platform::fake {

// Calls that can be scripted to fail: "CreateEvent", "SetEvent", "WaitAny" (WAIT_FAILED with
// the code), "CreateLock", "StartThread", "SetThreadPriority".
class FakeSync : public Sync {
  public:
    std::unique_ptr<Event> CreateEvent(bool manualReset, bool initiallySet,
                                       ErrorCode* error) override;
    WaitResult WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) override;
    std::unique_ptr<Lock> CreateLock(uint32_t spinCount, ErrorCode* error) override;
    std::unique_ptr<Thread> StartThread(std::function<void()> body, ErrorCode* error) override;

    FailureScript& script() { return script_; }
    // The spin count of the last lock made, and the last priority given to a thread.
    uint32_t last_spin_count() const { return last_spin_count_; }
    ThreadPriority last_priority() const { return last_priority_.load(); }

    // Time for the waits whose time limit is timeoutMs, driven by the test: such a wait ends
    // when one of its events is set or when the test lets one of them time out, never by
    // itself. The other waits keep real time.
    void HoldWaits(uint32_t timeoutMs);
    // Lets `count` held waits time out, those in progress first, then the next ones.
    void ExpireHeldWaits(int count);
    // Blocks until `count` held waits have begun in all (at most realTimeoutMs).
    bool AwaitHeldWaits(int count, uint32_t realTimeoutMs);
    // Whether the n-th event made by CreateEvent (1: the first) has been closed.
    bool EventClosed(int n);

  private:
    friend class FakeEvent;
    friend class FakeThread;
    friend bool IsSet(Event* event);
    friend bool TryConsume(Event* event);
    FailureScript script_;
    std::mutex mutex_;  // guards the state of every event of this Sync
    std::condition_variable changed_;
    std::atomic<uint32_t> last_spin_count_{0};
    std::atomic<ThreadPriority> last_priority_{ThreadPriority::kNormal};
    bool holding_ = false;  // the rest guarded by mutex_
    uint32_t held_timeout_ = 0;
    int held_started_ = 0;
    int expiries_ = 0;
    int events_made_ = 0;
    std::vector<int> events_closed_;
};

// Whether an event of a FakeSync is set, and taking the signal of an automatic-reset one
// (for fakes of devices that wait on such events).
bool IsSet(Event* event);
bool TryConsume(Event* event);

}  // namespace platform::fake
