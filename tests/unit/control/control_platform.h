// The console commands' platform for tests: a fake service manager, registry, shell path
// functions and console; the program at C:\Program Files\Dovrand\Dovrand.exe.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control/dovrand_service_control.h"
#include "platform/fake/console_fake.h"
#include "platform/fake/files_fake.h"
#include "platform/fake/path_functions_fake.h"
#include "platform/fake/registry_writes_fake.h"
#include "platform/fake/service_manager_fake.h"
#include "platform/platform.h"
#include "platform/process.h"

namespace control_test {

inline const std::wstring kApplicationKey =
    L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application";
inline const std::wstring kExecutable = L"C:\\Program Files\\Dovrand\\Dovrand.exe";

// GetModuleFileNameW as Windows does it: a path that does not fit is cut to the buffer's size,
// left without terminator and reported with ERROR_INSUFFICIENT_BUFFER.
class ModulePathProcess : public platform::Process {
  public:
    uint32_t ModuleFileName(wchar_t* buffer, uint32_t size, platform::ErrorCode* error) override;
    platform::ErrorCode LastError() override { return 0; }
    void UnquoteSpaces(wchar_t*) override {}
    uint32_t GetPriorityClass() override { return platform::kNormalPriorityClass; }
    bool SetPriorityClass(uint32_t) override { return true; }
    int GetThreadPriority() override { return platform::kThreadPriorityNormal; }
    bool SetThreadPriority(int) override { return true; }

    std::wstring path = kExecutable;
    platform::ErrorCode failure = 0;  // the call fails with this code when not 0
};

class ControlTest {
  public:
    ControlTest();
    ~ControlTest();

    // Main with the program path and these arguments; the console's text.
    std::wstring Run(const std::vector<std::wstring>& args, int* exitCode = nullptr);
    // Every handle and registry key opened has been closed.
    bool AllClosed() const;

    platform::fake::FakeServiceManager services;
    platform::fake::FakeRegistryWrites registry;
    platform::fake::FakePathFunctions paths;
    platform::fake::FakeConsole console;
    platform::fake::FakeFileSystem files;
    platform::fake::FakeSystemText text;
    ModulePathProcess process;
    cDovrandServiceControl control;

  private:
    std::optional<platform::ScopedPlatform> platform_;
};

// An argument vector over strings that live as long as it.
class Arguments {
  public:
    explicit Arguments(const std::vector<std::wstring>& args);
    wchar_t** argv() { return pointers_.data(); }
    int argc() const { return static_cast<int>(strings_.size()); }

  private:
    std::vector<std::wstring> strings_;
    std::vector<wchar_t*> pointers_;
};

// The arguments for a test's name: ASCII, each cut to 20 characters.
std::string Describe(const std::vector<std::wstring>& args);

}  // namespace control_test
