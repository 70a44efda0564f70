#include "platform/posix/sync_posix.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <mutex>
#include <vector>

#include "platform/posix/errno_map.h"

namespace platform::posix {

namespace {

class PosixEvent : public Event {
  public:
    PosixEvent(int fd, bool manual) : fd_(fd), manual_(manual) {}
    ~PosixEvent() override { close(fd_); }

    bool Set() override {
        uint64_t one = 1;
        return write(fd_, &one, sizeof one) == sizeof one;
    }

    bool Reset() override {
        uint64_t value;
        ssize_t got = read(fd_, &value, sizeof value);
        return got == sizeof value || errno == EAGAIN;
    }

    bool Consume() {
        if (manual_) {
            pollfd p{fd_, POLLIN, 0};
            return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
        }
        uint64_t value;
        return read(fd_, &value, sizeof value) == sizeof value;
    }

    int fd() const { return fd_; }

  private:
    int fd_;
    bool manual_;
};

class PosixLock : public Lock {
  public:
    void Enter() override { mutex_.lock(); }
    bool TryEnter() override { return mutex_.try_lock(); }
    void Leave() override { mutex_.unlock(); }

  private:
    std::recursive_mutex mutex_;  // a critical section may be entered again by its owner
};

class PosixThread : public Thread {
  public:
    explicit PosixThread(pthread_t thread) : thread_(thread) {}
    ~PosixThread() override {
        if (!joined_) {
            pthread_detach(thread_);
        }
    }

    // Lowest runs the thread as an idle-class thread; the others keep the normal policy (the
    // host gives no raised priority without privileges, and nothing here depends on it).
    bool SetPriority(ThreadPriority priority) override {
        sched_param param{};
        int policy = priority == ThreadPriority::kLowest ? SCHED_IDLE : SCHED_OTHER;
        pthread_setschedparam(thread_, policy, &param);
        return true;
    }

    bool Join(uint32_t timeoutMs) override {
        if (joined_) {
            return true;
        }
        if (timeoutMs == kInfinite) {
            joined_ = pthread_join(thread_, nullptr) == 0;
            return joined_;
        }
        timespec deadline;
        clock_gettime(CLOCK_REALTIME, &deadline);
        deadline.tv_sec += timeoutMs / 1000;
        deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        joined_ = pthread_timedjoin_np(thread_, nullptr, &deadline) == 0;
        return joined_;
    }

  private:
    pthread_t thread_;
    bool joined_ = false;
};

void* RunThread(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

}  // namespace

std::unique_ptr<Event> PosixSync::CreateEvent(bool manualReset, bool initiallySet,
                                              ErrorCode* error) {
    int fd = eventfd(initiallySet ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) {
        *error = FromErrno(errno);
        return nullptr;
    }
    return std::make_unique<PosixEvent>(fd, manualReset);
}

WaitResult PosixSync::WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    std::vector<pollfd> fds(count);
    for (size_t i = 0; i < count; ++i) {
        fds[i] = pollfd{EventFd(events[i]), POLLIN, 0};
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int wait = -1;
        if (timeoutMs != kInfinite) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        int ready = poll(fds.data(), fds.size(), wait);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return {WaitStatus::kFailed, 0, FromErrno(errno)};
        }
        for (size_t i = 0; i < count; ++i) {
            if ((fds[i].revents & POLLIN) != 0 && TryConsume(events[i])) {
                return {WaitStatus::kSignaled, static_cast<uint32_t>(i), 0};
            }
        }
        if (ready == 0) {
            return {WaitStatus::kTimeout, 0, 0};
        }
    }
}

std::unique_ptr<Lock> PosixSync::CreateLock(uint32_t, ErrorCode*) {
    return std::make_unique<PosixLock>();
}

std::unique_ptr<Thread> PosixSync::StartThread(std::function<void()> body, ErrorCode* error) {
    auto* argument = new std::function<void()>(std::move(body));
    pthread_t thread;
    int result = pthread_create(&thread, nullptr, RunThread, argument);
    if (result != 0) {
        delete argument;
        *error = FromErrno(result);
        return nullptr;
    }
    return std::make_unique<PosixThread>(thread);
}

int EventFd(Event* event) {
    return static_cast<PosixEvent*>(event)->fd();
}

bool TryConsume(Event* event) {
    return static_cast<PosixEvent*>(event)->Consume();
}

}  // namespace platform::posix
