#include "fakes/sync_fake.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

namespace platform::fake {

class FakeEvent : public Event {
  public:
    FakeEvent(FakeSync& sync, bool manualReset, bool set, int number)
        : sync_(sync), manual_(manualReset), set_(set), number_(number) {}
    ~FakeEvent() override {
        std::lock_guard<std::mutex> lock(sync_.mutex_);
        sync_.events_closed_.push_back(number_);
    }

    bool Set() override {
        if (sync_.script_.Check("SetEvent") != 0) {
            return false;
        }
        std::lock_guard<std::mutex> lock(sync_.mutex_);
        set_ = true;
        sync_.changed_.notify_all();
        return true;
    }

    bool Reset() override {
        std::lock_guard<std::mutex> lock(sync_.mutex_);
        set_ = false;
        return true;
    }

    // With the Sync's mutex held: whether the event is set, taking it if automatic.
    bool TakeLocked() {
        if (!set_) {
            return false;
        }
        if (!manual_) {
            set_ = false;
        }
        return true;
    }

    bool IsSetLocked() const { return set_; }
    FakeSync& sync() { return sync_; }

  private:
    FakeSync& sync_;
    bool manual_;
    bool set_;
    int number_;  // in the order of CreateEvent
};

namespace {

class FakeLock : public Lock {
  public:
    void Enter() override { mutex_.lock(); }
    bool TryEnter() override { return mutex_.try_lock(); }
    void Leave() override { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;  // a critical section may be entered again by its owner
};

struct ThreadControl {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
};

}  // namespace

class FakeThread : public Thread {
  public:
    FakeThread(FakeSync& sync, std::function<void()> body)
        : sync_(sync), control_(std::make_shared<ThreadControl>()) {
        thread_ = std::thread([control = control_, body = std::move(body)] {
            body();
            std::lock_guard<std::mutex> lock(control->mutex);
            control->done = true;
            control->done_changed.notify_all();
        });
    }

    ~FakeThread() override {
        if (thread_.joinable()) {
            thread_.detach();
        }
    }

    bool SetPriority(ThreadPriority priority) override {
        if (sync_.script_.Check("SetThreadPriority") != 0) {
            return false;
        }
        sync_.last_priority_ = priority;
        return true;
    }

    bool Join(uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(control_->mutex);
        auto done = [this] { return control_->done; };
        if (timeoutMs == kInfinite) {
            control_->done_changed.wait(lock, done);
        } else if (!control_->done_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                    done)) {
            return false;
        }
        lock.unlock();
        if (thread_.joinable()) {
            thread_.join();
        }
        return true;
    }

  private:
    FakeSync& sync_;
    std::shared_ptr<ThreadControl> control_;
    std::thread thread_;
};

std::unique_ptr<Event> FakeSync::CreateEvent(bool manualReset, bool initiallySet,
                                             ErrorCode* error) {
    if (ErrorCode code = script_.Check("CreateEvent"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    return std::make_unique<FakeEvent>(*this, manualReset, initiallySet, ++events_made_);
}

bool FakeSync::EventClosed(int n) {
    std::lock_guard<std::mutex> lock(mutex_);
    return std::find(events_closed_.begin(), events_closed_.end(), n) != events_closed_.end();
}

WaitResult FakeSync::WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    if (ErrorCode code = script_.Check("WaitAny"); code != 0) {
        return {WaitStatus::kFailed, 0, code};
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lock(mutex_);
    if (holding_ && timeoutMs == held_timeout_) {
        ++held_started_;
        changed_.notify_all();
        for (;;) {
            for (size_t i = 0; i < count; ++i) {
                if (static_cast<FakeEvent*>(events[i])->TakeLocked()) {
                    return {WaitStatus::kSignaled, static_cast<uint32_t>(i), 0};
                }
            }
            if (expiries_ > 0) {
                --expiries_;
                return {WaitStatus::kTimeout, 0, 0};
            }
            changed_.wait(lock);
        }
    }
    for (;;) {
        for (size_t i = 0; i < count; ++i) {
            if (static_cast<FakeEvent*>(events[i])->TakeLocked()) {
                return {WaitStatus::kSignaled, static_cast<uint32_t>(i), 0};
            }
        }
        if (timeoutMs == kInfinite) {
            changed_.wait(lock);
        } else if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
            for (size_t i = 0; i < count; ++i) {
                if (static_cast<FakeEvent*>(events[i])->TakeLocked()) {
                    return {WaitStatus::kSignaled, static_cast<uint32_t>(i), 0};
                }
            }
            return {WaitStatus::kTimeout, 0, 0};
        }
    }
}

std::unique_ptr<Lock> FakeSync::CreateLock(uint32_t spinCount, ErrorCode* error) {
    if (ErrorCode code = script_.Check("CreateLock"); code != 0) {
        *error = code;
        return nullptr;
    }
    last_spin_count_ = spinCount;
    return std::make_unique<FakeLock>();
}

std::unique_ptr<Thread> FakeSync::StartThread(std::function<void()> body, ErrorCode* error) {
    if (ErrorCode code = script_.Check("StartThread"); code != 0) {
        *error = code;
        return nullptr;
    }
    return std::make_unique<FakeThread>(*this, std::move(body));
}

void FakeSync::HoldWaits(uint32_t timeoutMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = true;
    held_timeout_ = timeoutMs;
}

void FakeSync::ExpireHeldWaits(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    expiries_ += count;
    changed_.notify_all();
}

bool FakeSync::AwaitHeldWaits(int count, uint32_t realTimeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(realTimeoutMs),
                             [&] { return held_started_ >= count; });
}

bool IsSet(Event* event) {
    auto* fake = static_cast<FakeEvent*>(event);
    std::lock_guard<std::mutex> lock(fake->sync().mutex_);
    return fake->IsSetLocked();
}

bool TryConsume(Event* event) {
    auto* fake = static_cast<FakeEvent*>(event);
    std::lock_guard<std::mutex> lock(fake->sync().mutex_);
    return fake->TakeLocked();
}

}  // namespace platform::fake
