// The running process: its program file, its priority class and the calling thread's priority.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace platform {

constexpr uint32_t kNormalPriorityClass = 0x20;         // NORMAL_PRIORITY_CLASS
constexpr uint32_t kAboveNormalPriorityClass = 0x8000;  // ABOVE_NORMAL_PRIORITY_CLASS
constexpr int kThreadPriorityNormal = 0;                // THREAD_PRIORITY_NORMAL
constexpr int kThreadPriorityHighest = 2;               // THREAD_PRIORITY_HIGHEST

class Process {
  public:
    virtual ~Process() = default;
    // GetModuleFileNameW (no module, buffer, size): the characters copied, without terminator,
    // and *error the thread's last error after the call. A path that does not fit is cut to
    // size characters, may be left without terminator, and the result is then size (with
    // ERROR_INSUFFICIENT_BUFFER, or no error on older systems).
    virtual uint32_t ModuleFileName(wchar_t* buffer, uint32_t size, ErrorCode* error) = 0;
    // GetLastError of the calling thread.
    virtual ErrorCode LastError() = 0;
    // PathUnquoteSpacesW: removes the quotes that enclose the whole path, in place.
    virtual void UnquoteSpaces(wchar_t* path) = 0;
    // GetPriorityClass / SetPriorityClass of the current process.
    virtual uint32_t GetPriorityClass() = 0;
    virtual bool SetPriorityClass(uint32_t priorityClass) = 0;
    // GetThreadPriority / SetThreadPriority of the calling thread.
    virtual int GetThreadPriority() = 0;
    virtual bool SetThreadPriority(int priority) = 0;
};

}  // namespace platform
