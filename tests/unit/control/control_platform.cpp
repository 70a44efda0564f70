#include "control_platform.h"

#include "log/start_keys.h"
#include "service/dovrand_service.h"

namespace control_test {

ControlTest::ControlTest() {
    process.SetModulePath(kExecutable);
    registry.AddKey(kApplicationKey);
    text.Add(122, L"The data area passed to a system call is too small.\r\n");
    text.Add(206, L"The filename or extension is too long.\r\n");
    text.Add(1060, L"The specified service does not exist as an installed service.\r\n");
    text.Add(1063, L"The service process could not connect to the service controller.\r\n");
    platform::Platform p = platform::Get();
    p.services = &services;
    p.registryWrites = &registry;
    p.paths = &paths;
    p.console = &console;
    p.files = &files;
    p.text = &text;
    p.process = &process;
    p.security = &security;
    platform_.emplace(p);
    // The start-key state as a new process has it.
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';
    cDovrandService::Global().SetNoPreference(false);
}

ControlTest::~ControlTest() {
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';
    cDovrandService::Global().SetNoPreference(false);
}

std::wstring ControlTest::Run(const std::vector<std::wstring>& args, int* exitCode) {
    std::vector<std::wstring> all = {kExecutable};
    all.insert(all.end(), args.begin(), args.end());
    Arguments arguments(all);
    const int code = control.Main(arguments.argc(), arguments.argv());
    if (exitCode != nullptr) {
        *exitCode = code;
    }
    return console.Text();
}

bool ControlTest::AllClosed() const {
    return services.OpenHandles() == 0 && registry.OpenKeys() == 0;
}

Arguments::Arguments(const std::vector<std::wstring>& args) : strings_(args) {
    for (std::wstring& s : strings_) {
        pointers_.push_back(s.data());
    }
    pointers_.push_back(nullptr);
}

std::string Describe(const std::vector<std::wstring>& args) {
    std::string text = "[";
    for (const std::wstring& arg : args) {
        text += text.size() > 1 ? " " : "";
        for (size_t i = 0; i < arg.size() && i < 20; ++i) {
            text += arg[i] < 0x80 ? static_cast<char>(arg[i]) : '?';
        }
    }
    return text + "]";
}

}  // namespace control_test
