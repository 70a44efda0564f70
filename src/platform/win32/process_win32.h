// The running process over the Win32 calls.
#pragma once

#include "platform/process.h"

namespace platform::win32 {

class Win32Process : public Process {
  public:
    uint32_t ModuleFileName(wchar_t* buffer, uint32_t size, ErrorCode* error) override;
    ErrorCode LastError() override;
    void UnquoteSpaces(wchar_t* path) override;
    uint32_t GetPriorityClass() override;
    bool SetPriorityClass(uint32_t priorityClass) override;
    int GetThreadPriority() override;
    bool SetThreadPriority(int priority) override;
};

}  // namespace platform::win32
