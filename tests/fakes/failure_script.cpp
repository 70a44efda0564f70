#include "fakes/failure_script.h"

namespace platform::fake {

void FailureScript::Fail(std::string_view call, ErrorCode code, int times, int skip) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_[std::string(call)] = Rule{code, times, skip};
}

void FailureScript::OnCall(std::string_view call, std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hooks_[std::string(call)] = std::move(hook);
}

ErrorCode FailureScript::Check(std::string_view call) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (auto found = hooks_.find(call); found != hooks_.end()) {
            hook = found->second;
        }
    }
    if (hook) {
        hook();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    auto counted = calls_.find(call);
    if (counted == calls_.end()) {
        counted = calls_.emplace(std::string(call), 0).first;
    }
    ++counted->second;
    auto rule = rules_.find(call);
    if (rule == rules_.end() || rule->second.times == 0) {
        return 0;
    }
    if (rule->second.skip > 0) {
        --rule->second.skip;
        return 0;
    }
    if (rule->second.times > 0) {
        --rule->second.times;
    }
    return rule->second.code;
}

int FailureScript::Calls(std::string_view call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto counted = calls_.find(call);
    return counted == calls_.end() ? 0 : counted->second;
}

void FailureScript::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    calls_.clear();
    hooks_.clear();
}

}  // namespace platform::fake
