// Standard output kept as text; sleeps recorded, not slept.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/console.h"

namespace platform::fake {

class FakeConsole : public Console {
  public:
    void Write(const std::wstring& text) override;
    void WriteError(const std::wstring& text) override;
    // Records the pause and calls the hook, if any, instead of sleeping.
    void Sleep(uint32_t milliseconds) override;

    std::wstring Text() const;
    std::wstring ErrorText() const;
    std::vector<uint32_t> Sleeps() const;
    void OnSleep(std::function<void(uint32_t)> hook);

  private:
    mutable std::mutex mutex_;
    std::wstring text_;
    std::wstring error_;
    std::vector<uint32_t> sleeps_;
    std::function<void(uint32_t)> on_sleep_;
};

}  // namespace platform::fake
