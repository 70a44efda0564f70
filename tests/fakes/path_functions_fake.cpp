#include "fakes/path_functions_fake.h"

#include "platform/ascii_case.h"

namespace platform::fake {

bool FakePathFunctions::SearchAndQualify(const std::wstring& path, std::wstring* qualified) {
    if (script_.Check("PathSearchAndQualifyW") != 0) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const bool absolute = (path.size() >= 2 && path[1] == L':') || path.rfind(L"\\\\", 0) == 0;
    std::wstring result = absolute ? path : current_ + L"\\" + path;
    if (result.size() >= kMaxPath) {
        return false;
    }
    *qualified = std::move(result);
    return true;
}

bool FakePathFunctions::IsDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return directories_.count(LowerCaseAscii(path)) != 0;
}

bool FakePathFunctions::QuoteSpaces(std::wstring* path) {
    if (path->find(L' ') == std::wstring::npos) {
        return true;
    }
    // The quoted path and its terminator must fit in MAX_PATH characters.
    if (path->size() + 3 > kMaxPath) {
        return false;
    }
    *path = L"\"" + *path + L"\"";
    return true;
}

void FakePathFunctions::SetCurrentDirectory(std::wstring path) {
    std::lock_guard<std::mutex> lock(mutex_);
    current_ = std::move(path);
}

void FakePathFunctions::AddDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    directories_.insert(LowerCaseAscii(path));
}

uint32_t FakePathFunctions::DriveType(const std::wstring& root) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = driveTypes_.find(LowerCaseAscii(root));
    return found != driveTypes_.end() ? found->second : drive::kFixed;
}

void FakePathFunctions::SetDriveType(const std::wstring& root, uint32_t type) {
    std::lock_guard<std::mutex> lock(mutex_);
    driveTypes_[LowerCaseAscii(root)] = type;
}

}  // namespace platform::fake
