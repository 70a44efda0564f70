#include "platform/win32/sync_win32.h"

#include <process.h>

#include <vector>

namespace platform::win32 {

namespace {

class Win32Event : public Event {
  public:
    explicit Win32Event(HANDLE handle) : handle_(handle) {}
    ~Win32Event() override { CloseHandle(handle_); }
    bool Set() override { return SetEvent(handle_) != FALSE; }
    bool Reset() override { return ResetEvent(handle_) != FALSE; }
    HANDLE handle() const { return handle_; }

  private:
    HANDLE handle_;
};

class Win32Lock : public Lock {
  public:
    Win32Lock() = default;
    ~Win32Lock() override {
        if (initialized_) {
            DeleteCriticalSection(&section_);
        }
    }
    bool Init(DWORD spinCount) {
        initialized_ = InitializeCriticalSectionAndSpinCount(&section_, spinCount) != FALSE;
        return initialized_;
    }
    void Enter() override { EnterCriticalSection(&section_); }
    bool TryEnter() override { return TryEnterCriticalSection(&section_) != FALSE; }
    void Leave() override { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
    bool initialized_ = false;
};

class Win32Thread : public Thread {
  public:
    explicit Win32Thread(HANDLE handle) : handle_(handle) {}
    ~Win32Thread() override { CloseHandle(handle_); }

    bool SetPriority(ThreadPriority priority) override {
        int value = priority == ThreadPriority::kLowest    ? THREAD_PRIORITY_LOWEST
                    : priority == ThreadPriority::kHighest ? THREAD_PRIORITY_HIGHEST
                                                           : THREAD_PRIORITY_NORMAL;
        return SetThreadPriority(handle_, value) != FALSE;
    }

    bool Join(uint32_t timeoutMs) override {
        return WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0;
    }

  private:
    HANDLE handle_;
};

unsigned __stdcall RunThread(void* argument) {
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}

}  // namespace

std::unique_ptr<Event> Win32Sync::CreateEvent(bool manualReset, bool initiallySet,
                                              ErrorCode* error) {
    HANDLE handle = CreateEventW(nullptr, manualReset, initiallySet, nullptr);
    if (handle == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32Event>(handle);
}

WaitResult FromWaitResult(DWORD result, size_t count) {
    if (result < WAIT_OBJECT_0 + count) {
        return {WaitStatus::kSignaled, static_cast<uint32_t>(result - WAIT_OBJECT_0), 0};
    }
    if (result == WAIT_TIMEOUT) {
        return {WaitStatus::kTimeout, 0, 0};
    }
    if (result == WAIT_FAILED) {
        return {WaitStatus::kFailed, 0, GetLastError()};
    }
    return {WaitStatus::kOther, 0, result};
}

WaitResult Win32Sync::WaitAny(Event* const* events, size_t count, uint32_t timeoutMs) {
    std::vector<HANDLE> handles(count);
    for (size_t i = 0; i < count; ++i) {
        handles[i] = EventHandle(events[i]);
    }
    DWORD result =
        WaitForMultipleObjects(static_cast<DWORD>(count), handles.data(), FALSE, timeoutMs);
    return FromWaitResult(result, count);
}

std::unique_ptr<Lock> Win32Sync::CreateLock(uint32_t spinCount, ErrorCode* error) {
    auto lock = std::make_unique<Win32Lock>();
    if (!lock->Init(spinCount)) {
        *error = GetLastError();
        return nullptr;
    }
    return lock;
}

std::unique_ptr<Thread> Win32Sync::StartThread(std::function<void()> body, ErrorCode* error) {
    auto* argument = new std::function<void()>(std::move(body));
    uintptr_t handle = _beginthreadex(nullptr, 0, RunThread, argument, 0, nullptr);
    if (handle == 0) {
        delete argument;
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32Thread>(reinterpret_cast<HANDLE>(handle));
}

HANDLE EventHandle(Event* event) {
    return static_cast<Win32Event*>(event)->handle();
}

}  // namespace platform::win32
