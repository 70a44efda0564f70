// The console commands' platform for tests: a fake service manager, registry, shell path
// functions and console; the program at C:\Program Files\Dovrand\Dovrand.exe.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "control/dovrand_service_control.h"
#include "fakes/console_fake.h"
#include "fakes/files_fake.h"
#include "fakes/path_functions_fake.h"
#include "fakes/process_fake.h"
#include "fakes/registry_writes_fake.h"
#include "fakes/security_fake.h"
#include "fakes/service_manager_fake.h"
#include "platform/platform.h"

namespace control_test {

inline const std::wstring kApplicationKey =
    L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application";
inline const std::wstring kExecutable = L"C:\\Program Files\\Dovrand\\Dovrand.exe";

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
    platform::fake::FakeProcess process;
    platform::fake::FakeSecurity security;
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
