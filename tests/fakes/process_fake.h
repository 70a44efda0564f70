// The running process: a program path of the test's choice and priorities that are recorded.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/process.h"

namespace platform::fake {

// Calls that can be scripted to fail: "GetModuleFileNameW" (result 0), "SetPriorityClass",
// "SetThreadPriority". A program path longer than the buffer is cut as the system cuts it: the
// buffer is filled without terminator and the result is its size, with the error
// `truncation_error` (ERROR_INSUFFICIENT_BUFFER, or 0 as older systems give).
class FakeProcess : public Process {
  public:
    uint32_t ModuleFileName(wchar_t* buffer, uint32_t size, ErrorCode* error) override;
    ErrorCode LastError() override;
    void UnquoteSpaces(wchar_t* path) override;
    uint32_t GetPriorityClass() override;
    bool SetPriorityClass(uint32_t priorityClass) override;
    int GetThreadPriority() override;
    bool SetThreadPriority(int priority) override;

    void SetModulePath(std::wstring path, ErrorCode truncationError = 122);
    void SetLastError(ErrorCode code);
    // The priority calls in order: "GetPriorityClass", "SetPriorityClass 0x8000",
    // "GetThreadPriority", "SetThreadPriority 2", ...
    std::vector<std::string> priority_calls() const;
    uint32_t priority_class() const;
    int thread_priority() const;
    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    mutable std::mutex mutex_;
    std::wstring module_path_ = L"C:\\Program Files\\Dovrand\\Dovrand.exe";
    ErrorCode truncation_error_ = 122;
    ErrorCode last_error_ = 0;
    uint32_t priority_class_ = kNormalPriorityClass;
    int thread_priority_ = kThreadPriorityNormal;
    std::vector<std::string> priority_calls_;
};

}  // namespace platform::fake
