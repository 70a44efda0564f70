#include "control/windows_service_control.h"

#include <memory>

#include "control/install_checks.h"
#include "log/log.h"
#include "log/start_keys.h"
#include "platform/ascii_case.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/path_functions.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/registry_writes.h"
#include "platform/service_manager.h"
#include "service/windows_service.h"

namespace {

// A quoted folder that ends in backslashes ("C:\a b\") would have its closing quote taken as
// an escaped quote when the service's command line is split into arguments, and the service
// would log into "C:\a b"" (nowhere). Backslashes before the closing quote are doubled, as the
// rule for splitting a command line wants, so the service gets the folder as it was given.
std::wstring EscapeClosingQuote(const std::wstring& quoted) {
    if (quoted.size() < 2 || quoted.back() != L'"' || quoted[quoted.size() - 2] != L'\\') {
        return quoted;
    }
    const size_t end = quoted.size() - 1;
    const size_t start = quoted.find_last_not_of(L'\\', end - 1) + 1;
    return quoted.substr(0, end) + std::wstring(end - start, L'\\') + L'"';
}

cWindowsServiceControl* g_instance = nullptr;

constexpr wchar_t kEventLogApplicationKey[] =
    L"SYSTEM\\CurrentControlSet\\services\\eventlog\\Application";

bool IsKey(const wchar_t* argument) {
    return argument[0] == L'-' || argument[0] == L'/';
}

// The key's word begins with the key word (prefix comparison, ASCII case ignored).
bool KeyStartsWith(const wchar_t* argument, const std::wstring& word) {
    return EqualNoCase(argument + 1, word.c_str(), word.size());
}

// The key's word is the key word (whole-word comparison, ASCII case ignored).
bool KeyIs(const wchar_t* argument, const std::wstring& word) {
    return EqualNoCase(argument + 1, word.c_str(), word.size() + 1);
}

std::wstring ErrorString(uint32_t code) {
    return ErrorText(code);
}

// A REG_EXPAND_SZ value: UTF-16LE with its terminator.
std::basic_string<uint8_t> Utf16Bytes(const std::wstring& text) {
    std::basic_string<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((static_cast<uint32_t>(c) >> 8) & 0xFF));
    }
    bytes.append(2, 0);
    return bytes;
}

std::basic_string<uint8_t> DwordBytes(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
}

}  // namespace

cWindowsServiceControl::cWindowsServiceControl() {
    g_instance = this;
}

cWindowsServiceControl::~cWindowsServiceControl() {
    if (g_instance == this) {
        g_instance = nullptr;
    }
}

cWindowsServiceControl& cWindowsServiceControl::Instance() {
    return *g_instance;
}

void cWindowsServiceControl::Print(const wchar_t* format,
                                   std::initializer_list<std::wstring> args) {
    std::wstring text;
    auto next = args.begin();
    for (const wchar_t* p = format; *p != L'\0'; ++p) {
        if (p[0] == L'%' && p[1] == L's' && next != args.end()) {
            text += *next++;
            ++p;
        } else {
            text += *p;
        }
    }
    platform::Get().console->Write(text);
}

int cWindowsServiceControl::Main(int argc, wchar_t** argv) {
    if (argc < 2 || !IsKey(argv[1])) {
        Usage();
        return 1;
    }
    const wchar_t* command = argv[1];
    wchar_t** keys = argv + 2;
    const int count = argc - 2;
    if (KeyStartsWith(command, L"service")) {
        ParseStartKeys(keys, static_cast<unsigned>(count));
        const uint32_t result = platform::Get().services->RunDispatcher(
            GetServiceName(), &cWindowsService::ServiceMain);
        return result == 0 ? 0 : 2;
    }
    if (KeyStartsWith(command, L"install")) {
        Install(keys, count);
        return 0;
    }
    if (KeyStartsWith(command, L"remove")) {
        Remove();
        return 0;
    }
    if (KeyStartsWith(command, L"start")) {
        Start();
        return 0;
    }
    if (KeyStartsWith(command, L"stop")) {
        Stop();
        return 0;
    }
    if (KeyIs(command, L"?") || AsciiLower(command[1]) == L'h') {
        Usage();
        return 1;
    }
    const int handled = HandleCommand(command);
    if (handled >= 0) {
        return handled;
    }
    Usage();
    return 1;
}

void cWindowsServiceControl::ParseStartKeys(wchar_t** keys, unsigned count) {
    for (unsigned index = 0; index < count; ++index) {
        if (!IsKey(keys[index])) {
            return;
        }
        if (KeyIs(keys[index], L"log")) {
            const bool hasDirectory = index + 1 < count && !IsKey(keys[index + 1]);
            // A folder too long for the log directory buffer is refused with its key: logging
            // stays as it was rather than going to some other folder.
            if (hasDirectory && std::wstring_view(keys[index + 1]).size() >= kLogDirectoryChars) {
                ++index;
            } else {
                SetLogEnabled(true);
                if (hasDirectory) {
                    ++index;
                    const std::wstring_view directory(keys[index]);
                    wchar_t(&buffer)[kLogDirectoryChars] = LogDirectory();
                    directory.copy(buffer, directory.size());
                    buffer[directory.size()] = L'\0';
                }
            }
        } else if (KeyIs(keys[index], L"nolog")) {
            SetLogEnabled(false);
        }
        ParseStartKey(count, keys, index);
    }
}

bool cWindowsServiceControl::BuildServiceCommandLine(wchar_t** keys, int count,
                                                     std::wstring& commandLine,
                                                     std::wstring& logDirectory) {
    commandLine += L" -service";
    logDirectory.clear();
    bool abort = false;
    for (int index = 0; index < count; ++index) {
        if (!IsKey(keys[index])) {
            continue;
        }
        if (KeyIs(keys[index], L"log")) {
            commandLine += L" ";
            commandLine += keys[index];
            if (index + 1 < count && !IsKey(keys[index + 1])) {
                ++index;
                std::wstring directory;
                platform::PathFunctions& paths = *platform::Get().paths;
                if (!paths.SearchAndQualify(keys[index], &directory) ||
                    !LogFolderReachable(directory)) {
                    Print(L"%s Please use another path.\n", {L"Log path is invalid."});
                    return false;
                }
                if (!paths.IsDirectory(directory)) {
                    Print(L"%s Please use another path.\n", {L"Log path does a valid directory."});
                    return false;
                }
                if (!LogFolderSafe(directory)) {
                    return false;
                }
                logDirectory = directory;
                // A folder with a space too long to be quoted would split the service's
                // command line: refused as a path that cannot be used.
                if (!paths.QuoteSpaces(&directory)) {
                    Print(L"%s Please use another path.\n", {L"Log path is invalid."});
                    return false;
                }
                commandLine += L" ";
                commandLine += EscapeClosingQuote(directory);
            }
        } else {
            if (!AddInstallKey(commandLine, count, keys, index, abort)) {
                Print(L"Invalid service start key \"%s\".\n", {keys[index]});
                return false;
            }
            if (abort) {
                return false;
            }
        }
        // Checked after each key, so that the keys after the one that made it too long are not
        // looked at (nor their messages printed).
        if (!CommandLineFits(commandLine)) {
            return false;
        }
    }
    // And once more for the whole line: a long program path with no key (or only arguments that
    // are passed over) makes it too long as well.
    return CommandLineFits(commandLine);
}

bool cWindowsServiceControl::LogFolderReachable(const std::wstring& folder) {
    // A UNC folder (\\server\share\...) is reached as the computer's account; device paths
    // (\\.\ and \\?\) are not log folders.
    if (folder.rfind(L"\\\\", 0) == 0) {
        return folder.rfind(L"\\\\.\\", 0) != 0 && folder.rfind(L"\\\\?\\", 0) != 0;
    }
    // A drive letter mapped to a share belongs to the installing user's logon session: the
    // service would not see it.
    return folder.size() < 3 ||
           platform::Get().paths->DriveType(folder.substr(0, 3)) != platform::drive::kRemote;
}

bool cWindowsServiceControl::LogFolderSafe(const std::wstring& folder) {
    // The accounts in a share's descriptor are the server's: a UNC folder is not judged here.
    if (folder.rfind(L"\\\\", 0) == 0) {
        return true;
    }
    // LocalSystem creates and appends the log there: whoever can change the folder could put
    // a link in the log's place and have any file written.
    const install_checks::Verdict v = install_checks::CheckFolder(folder);
    if (v.refused) {
        Print(
            L"Log path can be changed by non-administrators (\"%s\": %s). Please use another "
            L"path.\n",
            {v.path, v.reason});
    }
    return !v.refused;
}

bool cWindowsServiceControl::CommandLineFits(const std::wstring& commandLine) {
    // Refused rather than stored cut: a cut line would start the service with other keys.
    if (commandLine.size() < kCommandLineChars) {
        return true;
    }
    Print(
        L"The service command line would be longer than %s characters. Please use fewer keys "
        L"or a shorter path.\n",
        {std::to_wstring(kCommandLineChars - 1)});
    return false;
}

bool cWindowsServiceControl::Install(wchar_t** keys, int count) {
    wchar_t path[kCommandLineChars] = {};
    platform::ErrorCode error = 0;
    const uint32_t length =
        platform::Get().process->ModuleFileName(path, kCommandLineChars, &error);
    // A path that filled the buffer was cut: installing it would name another program.
    if (length == 0 || length >= kCommandLineChars) {
        if (error == 0) {
            error = platform::error::kInsufficientBuffer;
        }
        Print(L"Unable to install %s. Error: %s\n", {GetDisplayName(), ErrorString(error)});
        return false;
    }
    const std::wstring executable(path, length);
    // The service will run this file as LocalSystem at every boot: whoever can change it, its
    // folder or a folder above could run anything as LocalSystem.
    if (const install_checks::Verdict v = install_checks::CheckProgram(executable); v.refused) {
        Print(
            L"Unable to install %s: a non-administrator could change what it runs (\"%s\": %s). "
            L"Copy the programs into a folder that only administrators can change, such as "
            L"Program Files, or use the package.\n",
            {GetDisplayName(), v.path, v.reason});
        return false;
    }
    std::wstring commandLine = executable;
    if (!platform::Get().paths->QuoteSpaces(&commandLine)) {
        Print(L"Unable to install %s. Error: %s\n",
              {GetDisplayName(), ErrorString(platform::error::kFilenameExcedRange)});
        return false;
    }
    std::wstring logDirectory;
    if (!BuildServiceCommandLine(keys, count, commandLine, logDirectory)) {
        return false;
    }

    bool created = false;
    {
        std::unique_ptr<platform::ServiceDatabase> manager =
            platform::Get().services->Open(platform::service::kManagerAllAccess, &error);
        if (!manager) {
            Print(L"OpenSCManager failed with %s\n", {ErrorString(error)});
            return false;
        }
        platform::ServiceConfig config;
        config.serviceName = GetServiceName();
        config.displayName = GetDisplayName();
        config.access = platform::service::kAllAccess;
        config.serviceType = platform::service::kWin32OwnProcess;
        config.startType = platform::service::kAutoStart;
        config.errorControl = platform::service::kErrorNormal;
        config.commandLine = commandLine;
        config.dependencies = GetDependencies();
        if (std::unique_ptr<platform::Service> service = manager->CreateService(config, &error);
            service != nullptr) {
            created = true;
            Print(L"%s installed.\n", {GetDisplayName()});
            if (!logDirectory.empty()) {
                const std::wstring logName = std::wstring(GetServiceName()) + L".log";
                std::wstring logFile;
                // The message only: a folder at the size limit is shown joined by hand.
                if (!platform::Get().files->PathCombine(logDirectory, logName, &logFile)) {
                    logFile = logDirectory + L"\\" + logName;
                }
                Print(L"Log will be being written to \"%s\".\n", {logFile});
            }
            ConfigureNewService(*service);
        } else if (error == platform::error::kServiceExists) {
            Print(L"The service already exists. Use -remove to uninstall it first.\n");
        } else {
            Print(L"CreateService failed with %s\n", {ErrorString(error)});
        }
    }
    if (!created) {
        return false;
    }
    if (const uint32_t result = RegisterEventLogSource(executable); result != 0) {
        Print(L"Unable to register the service in Event Log (%s)\n", {ErrorString(result)});
        return false;
    }
    return true;
}

void cWindowsServiceControl::ConfigureNewService(platform::Service& service) {
    // A service that ends without a stop is started again a minute later, twice; after a third
    // failure within a day it stays stopped (a fault that comes back at every start is not
    // hammered), and a day without a failure gives it its two restarts again.
    platform::FailureActions recovery;
    recovery.resetPeriodSeconds = 24 * 60 * 60;
    recovery.actions = {{platform::service::kActionRestart, 60 * 1000},
                        {platform::service::kActionRestart, 60 * 1000},
                        {platform::service::kActionNone, 0}};
    if (const platform::ErrorCode error = service.SetFailureActions(recovery); error != 0) {
        Print(L"Unable to set the failure actions of the service (%s)\n", {ErrorString(error)});
    }
    // The service needs no privilege beyond the one every process keeps: it raises its priority
    // only to ABOVE_NORMAL, opens the service manager, the registry, files, ports and the event
    // log under their access checks. Windows drops every other privilege of LocalSystem from the
    // service's process. Windows XP does not know the level: nothing to drop there.
    const platform::ErrorCode error = service.SetRequiredPrivileges({L"SeChangeNotifyPrivilege"});
    if (error != 0 && error != platform::error::kInvalidLevel) {
        Print(L"Unable to set the required privileges of the service (%s)\n", {ErrorString(error)});
    }
}

uint32_t cWindowsServiceControl::RegisterEventLogSource(const std::wstring& messageFile) {
    platform::ErrorCode error = 0;
    std::unique_ptr<platform::WritableKey> application =
        platform::Get().registryWrites->OpenLocalMachineKey(kEventLogApplicationKey,
                                                            platform::registry::kReadWrite, &error);
    if (!application) {
        return error;
    }
    std::unique_ptr<platform::WritableKey> source =
        application->CreateSubKey(GetServiceName(), platform::registry::kReadWrite, &error);
    if (!source) {
        return error;
    }
    const std::basic_string<uint8_t> file = Utf16Bytes(messageFile);
    const std::basic_string<uint8_t> types = DwordBytes(7);
    const std::basic_string<uint8_t> categories = DwordBytes(3);
    struct Value {
        const wchar_t* name;
        uint32_t type;
        const std::basic_string<uint8_t>& data;
    };
    const Value values[] = {
        {L"EventMessageFile", platform::registry::kExpandString, file},
        {L"TypesSupported", platform::registry::kDword, types},
        {L"CategoryMessageFile", platform::registry::kExpandString, file},
        {L"CategoryCount", platform::registry::kDword, categories},
    };
    for (const Value& value : values) {
        error = source->SetValue(value.name, value.type, value.data.data(),
                                 static_cast<uint32_t>(value.data.size()));
        if (error != 0) {
            return error;
        }
    }
    return 0;
}

void cWindowsServiceControl::WaitForStop(platform::Service& service) {
    platform::Console& console = *platform::Get().console;
    Print(L"Stopping %s...", {GetDisplayName()});
    console.Sleep(300);
    platform::ServiceStatus status;
    bool queried = service.QueryStatus(&status) == 0;
    while (queried && status.currentState == platform::service::kStopPending) {
        Print(L".");
        console.Sleep(1000);
        queried = service.QueryStatus(&status) == 0;
    }
    Print(queried && status.currentState == platform::service::kStopped ? L"stopped\n"
                                                                        : L"failed\n");
}

std::unique_ptr<platform::Service> cWindowsServiceControl::OpenInstalledService(
    std::unique_ptr<platform::ServiceDatabase>& manager, const wchar_t* notInstalled) {
    platform::ErrorCode error = 0;
    manager = platform::Get().services->Open(platform::service::kManagerAllAccess, &error);
    if (!manager) {
        Print(L"OpenSCManager failed with %s\n", {ErrorString(error)});
        return nullptr;
    }
    std::unique_ptr<platform::Service> service =
        manager->OpenService(GetServiceName(), platform::service::kAllAccess, &error);
    if (!service) {
        if (error == platform::error::kServiceDoesNotExist) {
            Print(notInstalled);
        } else {
            Print(L"OpenService failed with %s\n", {ErrorString(error)});
        }
    }
    return service;
}

void cWindowsServiceControl::Remove() {
    std::unique_ptr<platform::ServiceDatabase> manager;
    std::unique_ptr<platform::Service> service =
        OpenInstalledService(manager, L"The service does not installed.\n");
    if (!service) {
        return;
    }
    platform::ServiceStatus status;
    if (service->Control(platform::service::kControlStop, &status) == 0) {
        WaitForStop(*service);
    }
    const platform::ErrorCode error = service->Delete();
    if (error == 0) {
        Print(L"%s removed.\n", {GetDisplayName()});
    } else {
        Print(L"DeleteService failed with %s\n", {ErrorString(error)});
    }
}

void cWindowsServiceControl::Start() {
    bool installTried = false;
    for (;;) {
        bool missing = false;
        platform::ErrorCode error = 0;
        std::unique_ptr<platform::ServiceDatabase> manager =
            platform::Get().services->Open(platform::service::kManagerAllAccess, &error);
        if (!manager) {
            Print(L"OpenSCManager failed with %s\n", {ErrorString(error)});
        } else if (std::unique_ptr<platform::Service> service = manager->OpenService(
                       GetServiceName(), platform::service::kAllAccess, &error);
                   !service) {
            if (error == platform::error::kServiceDoesNotExist && !installTried) {
                missing = true;
            } else {
                Print(L"OpenService failed with %s\n", {ErrorString(error)});
            }
        } else {
            Print(L"Starting %s...", {GetDisplayName()});
            error = service->Start();
            if (error == 0) {
                Print(L"started\n");
            } else if (error == platform::error::kServiceAlreadyRunning) {
                Print(L"The service is already running.\n");
            } else if (error == platform::error::kServiceDisabled) {
                Print(L"The service is disabled. Use -remove and then -start to solve this.\n");
            } else {
                Print(L"StartService failed with %s\n", {ErrorString(error)});
            }
        }
        manager.reset();
        if (!missing) {
            return;
        }
        Print(L"The service does not installed. Trying to install it, then start...\n");
        if (!Install(nullptr, 0)) {
            return;
        }
        installTried = true;
    }
}

void cWindowsServiceControl::Stop() {
    std::unique_ptr<platform::ServiceDatabase> manager;
    std::unique_ptr<platform::Service> service =
        OpenInstalledService(manager, L"Service does not installed.\n");
    if (!service) {
        return;
    }
    platform::ServiceStatus status;
    const platform::ErrorCode error = service->Control(platform::service::kControlStop, &status);
    if (error == 0) {
        WaitForStop(*service);
    } else if (error == platform::error::kServiceNotActive) {
        Print(L"The service is not running.\n");
    } else {
        Print(L"ControlService failed with %s\n", {ErrorString(error)});
    }
}
