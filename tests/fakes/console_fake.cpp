#include "fakes/console_fake.h"

namespace platform::fake {

void FakeConsole::Write(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ += text;
}

void FakeConsole::WriteError(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ += text;
}

std::wstring FakeConsole::ErrorText() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}

void FakeConsole::Sleep(uint32_t milliseconds) {
    std::function<void(uint32_t)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sleeps_.push_back(milliseconds);
        hook = on_sleep_;
    }
    if (hook) {
        hook(milliseconds);
    }
}

std::wstring FakeConsole::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
}

std::vector<uint32_t> FakeConsole::Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
}

void FakeConsole::OnSleep(std::function<void(uint32_t)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    on_sleep_ = std::move(hook);
}

}  // namespace platform::fake
