#include "fakes/process_fake.h"

#include <cstdio>
#include <cwchar>

namespace platform::fake {

uint32_t FakeProcess::ModuleFileName(wchar_t* buffer, uint32_t size, ErrorCode* error) {
    if (ErrorCode code = script_.Check("GetModuleFileNameW"); code != 0) {
        *error = code;
        return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (module_path_.size() >= size) {
        std::wmemcpy(buffer, module_path_.data(), size);
        *error = truncation_error_;
        return size;
    }
    std::wmemcpy(buffer, module_path_.c_str(), module_path_.size() + 1);
    *error = 0;
    return static_cast<uint32_t>(module_path_.size());
}

ErrorCode FakeProcess::LastError() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_error_;
}

void FakeProcess::UnquoteSpaces(wchar_t* path) {
    const size_t length = std::wcslen(path);
    if (length >= 2 && path[0] == L'"' && path[length - 1] == L'"') {
        std::wmemmove(path, path + 1, length - 2);
        path[length - 2] = L'\0';
    }
}

uint32_t FakeProcess::GetPriorityClass() {
    std::lock_guard<std::mutex> lock(mutex_);
    priority_calls_.push_back("GetPriorityClass");
    return priority_class_;
}

bool FakeProcess::SetPriorityClass(uint32_t priorityClass) {
    const bool ok = script_.Check("SetPriorityClass") == 0;
    std::lock_guard<std::mutex> lock(mutex_);
    char call[40];
    std::snprintf(call, sizeof(call), "SetPriorityClass 0x%x", priorityClass);
    priority_calls_.push_back(call);
    if (ok) {
        priority_class_ = priorityClass;
    }
    return ok;
}

int FakeProcess::GetThreadPriority() {
    std::lock_guard<std::mutex> lock(mutex_);
    priority_calls_.push_back("GetThreadPriority");
    return thread_priority_;
}

bool FakeProcess::SetThreadPriority(int priority) {
    const bool ok = script_.Check("SetThreadPriority") == 0;
    std::lock_guard<std::mutex> lock(mutex_);
    priority_calls_.push_back("SetThreadPriority " + std::to_string(priority));
    if (ok) {
        thread_priority_ = priority;
    }
    return ok;
}

void FakeProcess::SetModulePath(std::wstring path, ErrorCode truncationError) {
    std::lock_guard<std::mutex> lock(mutex_);
    module_path_ = std::move(path);
    truncation_error_ = truncationError;
}

void FakeProcess::SetLastError(ErrorCode code) {
    std::lock_guard<std::mutex> lock(mutex_);
    last_error_ = code;
}

std::vector<std::string> FakeProcess::priority_calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return priority_calls_;
}

uint32_t FakeProcess::priority_class() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return priority_class_;
}

int FakeProcess::thread_priority() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return thread_priority_;
}

}  // namespace platform::fake
