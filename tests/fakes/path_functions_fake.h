// The shell's path functions over a current directory and a set of
// existing folders, with the limits of the real calls (MAX_PATH buffers).
#pragma once

#include <map>
#include <mutex>
#include <set>
#include <string>

#include "fakes/failure_script.h"
#include "platform/path_functions.h"

namespace platform::fake {

// Calls that can be scripted to fail: "PathSearchAndQualifyW".
// Folder paths compare without regard to ASCII letter case.
class FakePathFunctions : public PathFunctions {
  public:
    bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) override;
    bool IsDirectory(const std::wstring& path) override;
    bool QuoteSpaces(std::wstring* path) override;
    // Fixed, unless set for the root (compared without regard to ASCII letter case).
    uint32_t DriveType(const std::wstring& root) override;

    // C:\Users\user unless set; a relative path is taken against it.
    void SetCurrentDirectory(std::wstring path);
    void AddDirectory(const std::wstring& path);
    void SetDriveType(const std::wstring& root, uint32_t type);

    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    std::mutex mutex_;
    std::wstring current_ = L"C:\\Users\\user";
    std::set<std::wstring> directories_;           // lower-cased
    std::map<std::wstring, uint32_t> driveTypes_;  // by lower-cased root
};

}  // namespace platform::fake
