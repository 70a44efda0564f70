#include "platform/win32/process_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

uint32_t Win32Process::ModuleFileName(wchar_t* buffer, uint32_t size, ErrorCode* error) {
    SetLastError(0);
    const DWORD length = GetModuleFileNameW(nullptr, buffer, size);
    *error = GetLastError();
    return length;
}

ErrorCode Win32Process::LastError() {
    return GetLastError();
}

void Win32Process::UnquoteSpaces(wchar_t* path) {
    PathUnquoteSpacesW(path);
}

uint32_t Win32Process::GetPriorityClass() {
    return ::GetPriorityClass(GetCurrentProcess());
}

bool Win32Process::SetPriorityClass(uint32_t priorityClass) {
    return ::SetPriorityClass(GetCurrentProcess(), priorityClass) != FALSE;
}

int Win32Process::GetThreadPriority() {
    return ::GetThreadPriority(GetCurrentThread());
}

bool Win32Process::SetThreadPriority(int priority) {
    return ::SetThreadPriority(GetCurrentThread(), priority) != FALSE;
}

}  // namespace platform::win32
