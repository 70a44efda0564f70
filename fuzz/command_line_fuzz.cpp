// The command line as the program receives it: any argument vector through the command
// dispatch (Main), the start keys of service mode (ParseStartKeys) and the install keys
// (BuildServiceCommandLine), on fakes of the service manager, the registry, the path functions,
// the console and the process. Each argument lives in a heap buffer of exactly its characters
// and terminator.
//
// Input: the arguments as wide characters, separated by the character 0.
#include <cwchar>
#include <memory>
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
#include "fuzz_rig.h"
#include "log/start_keys.h"
#include "platform/platform.h"
#include "service/dovrand_service.h"

namespace {

constexpr const wchar_t* kExecutable = L"C:\\Program Files\\Dovrand\\Dovrand.exe";

wchar_t* Own(std::vector<std::unique_ptr<wchar_t[]>>& owned, const std::wstring& text) {
    owned.emplace_back(new wchar_t[text.size() + 1]);
    std::wmemcpy(owned.back().get(), text.c_str(), text.size() + 1);
    return owned.back().get();
}

// The start-key state as a new process has it.
void ResetStartKeys() {
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';
    cDovrandService::Global().SetNoPreference(false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring text = input.WideChars(4096);
    std::vector<std::unique_ptr<wchar_t[]>> owned;
    std::vector<wchar_t*> argv = {Own(owned, kExecutable)};
    for (size_t start = 0; start <= text.size() && !text.empty();) {
        size_t end = text.find(L'\0', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        argv.push_back(Own(owned, text.substr(start, end - start)));
        start = end + 1;
    }
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    platform::fake::FakeServiceManager services;
    platform::fake::FakeRegistryWrites registry;
    platform::fake::FakePathFunctions paths;
    platform::fake::FakeConsole console;
    platform::fake::FakeFileSystem files;
    platform::fake::FakeSystemText systemText;
    platform::fake::FakeProcess process;
    platform::fake::FakeSecurity security;
    process.SetModulePath(kExecutable);
    registry.AddKey(L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application");
    platform::Platform p = platform::Get();
    p.services = &services;
    p.registryWrites = &registry;
    p.paths = &paths;
    p.console = &console;
    p.files = &files;
    p.text = &systemText;
    p.process = &process;
    p.security = &security;
    platform::ScopedPlatform use(p);
    ResetStartKeys();

    cDovrandServiceControl control;
    const int code = control.Main(argc, argv.data());
    FUZZ_CHECK(code >= 0 && code <= 2);

    control.ParseStartKeys(argv.data() + 1, static_cast<unsigned>(argc - 1));
    FUZZ_CHECK(wcsnlen(LogDirectory(), kLogDirectoryChars) < kLogDirectoryChars);

    std::wstring commandLine = std::wstring(L"\"") + kExecutable + L"\"";
    std::wstring logDirectory;
    if (control.BuildServiceCommandLine(argv.data() + 1, argc - 1, commandLine, logDirectory)) {
        FUZZ_CHECK(commandLine.size() < cWindowsServiceControl::kCommandLineChars);
    }
    FUZZ_CHECK(services.OpenHandles() == 0 && registry.OpenKeys() == 0);
    ResetStartKeys();
    return 0;
}
