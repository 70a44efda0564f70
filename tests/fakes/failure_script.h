// Tells a fake which of its calls fail, and with which Windows error code; counts every call.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace platform::fake {

class FailureScript {
  public:
    // The calls named `call` fail with `code`: `times` of them (-1: every one from then on),
    // after `skip` calls that succeed.
    void Fail(std::string_view call, ErrorCode code, int times = 1, int skip = 0);
    // Runs `hook` (on the calling thread) each time a call named `call` is counted, before it
    // succeeds or fails: for tests that need something to happen at that very point.
    void OnCall(std::string_view call, std::function<void()> hook);
    // Counts one call; returns the code it must fail with, or 0.
    ErrorCode Check(std::string_view call);
    int Calls(std::string_view call) const;
    void Clear();

  private:
    struct Rule {
        ErrorCode code = 0;
        int times = 0;
        int skip = 0;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Rule, std::less<>> rules_;
    std::map<std::string, int, std::less<>> calls_;
    std::map<std::string, std::function<void()>, std::less<>> hooks_;
};

}  // namespace platform::fake
