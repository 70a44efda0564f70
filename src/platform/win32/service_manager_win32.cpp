#include "platform/win32/service_manager_win32.h"

#include <atomic>
#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

ServiceStatus FromWindows(const SERVICE_STATUS& s) {
    return ServiceStatus{s.dwServiceType,
                         s.dwCurrentState,
                         s.dwControlsAccepted,
                         s.dwWin32ExitCode,
                         s.dwServiceSpecificExitCode,
                         s.dwCheckPoint,
                         s.dwWaitHint};
}

ErrorCode Result(BOOL ok) {
    return ok ? 0 : static_cast<ErrorCode>(GetLastError());
}

class Win32Service : public Service {
  public:
    explicit Win32Service(SC_HANDLE handle) : handle_(handle) {}
    ~Win32Service() override { CloseServiceHandle(handle_); }

    ErrorCode Start() override { return Result(StartServiceW(handle_, 0, nullptr)); }

    ErrorCode Control(uint32_t control, ServiceStatus* status) override {
        SERVICE_STATUS s = {};
        const BOOL ok = ControlService(handle_, control, &s);
        const ErrorCode code = Result(ok);
        *status = FromWindows(s);
        return code;
    }

    ErrorCode QueryStatus(ServiceStatus* status) override {
        SERVICE_STATUS s = {};
        const BOOL ok = QueryServiceStatus(handle_, &s);
        const ErrorCode code = Result(ok);
        *status = FromWindows(s);
        return code;
    }

    ErrorCode Delete() override { return Result(DeleteService(handle_)); }

    ErrorCode ChangeStartType(uint32_t startType) override {
        return Result(ChangeServiceConfigW(handle_, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr));
    }

    ErrorCode SetFailureActions(const FailureActions& f) override {
        std::vector<SC_ACTION> actions;
        for (const FailureAction& a : f.actions) {
            actions.push_back(SC_ACTION{static_cast<SC_ACTION_TYPE>(a.type), a.delayMilliseconds});
        }
        SERVICE_FAILURE_ACTIONSW info = {};
        info.dwResetPeriod = f.resetPeriodSeconds;
        info.cActions = static_cast<DWORD>(actions.size());
        info.lpsaActions = actions.empty() ? nullptr : actions.data();
        return Result(ChangeServiceConfig2W(handle_, SERVICE_CONFIG_FAILURE_ACTIONS, &info));
    }

    ErrorCode SetRequiredPrivileges(const std::vector<std::wstring>& privileges) override {
        // The names as one list of strings ended by an empty one.
        std::wstring list;
        for (const std::wstring& p : privileges) {
            list += p;
            list += L'\0';
        }
        list += L'\0';
        // SERVICE_REQUIRED_PRIVILEGES_INFOW, which the headers declare for Vista and later
        // only: the level is passed to every Windows, and XP refuses it.
        struct RequiredPrivilegesInfo {
            LPWSTR pmszRequiredPrivileges;
        } info = {list.data()};
        return Result(
            ChangeServiceConfig2W(handle_, SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, &info));
    }

  private:
    SC_HANDLE handle_;
};

class Win32ServiceDatabase : public ServiceDatabase {
  public:
    explicit Win32ServiceDatabase(SC_HANDLE handle) : handle_(handle) {}
    ~Win32ServiceDatabase() override { CloseServiceHandle(handle_); }

    std::unique_ptr<Service> CreateService(const ServiceConfig& c, ErrorCode* error) override {
        SC_HANDLE service =
            CreateServiceW(handle_, c.serviceName.c_str(), c.displayName.c_str(), c.access,
                           c.serviceType, c.startType, c.errorControl, c.commandLine.c_str(),
                           nullptr, nullptr, c.dependencies, nullptr, nullptr);
        if (service == nullptr) {
            *error = static_cast<ErrorCode>(GetLastError());
            return nullptr;
        }
        return std::make_unique<Win32Service>(service);
    }

    std::unique_ptr<Service> OpenService(const std::wstring& name, uint32_t access,
                                         ErrorCode* error) override {
        SC_HANDLE service = OpenServiceW(handle_, name.c_str(), access);
        if (service == nullptr) {
            *error = static_cast<ErrorCode>(GetLastError());
            return nullptr;
        }
        return std::make_unique<Win32Service>(service);
    }

    ErrorCode EnumServices(uint32_t serviceType, uint32_t serviceState, uint32_t bufferBytes,
                           std::vector<ServiceEntry>* entries, uint32_t* bytesNeeded,
                           uint32_t* resumeHandle) override {
        // ENUM_SERVICE_STATUSW entries with their strings behind them, aligned as the structure.
        std::vector<ENUM_SERVICE_STATUSW> buffer((bufferBytes + sizeof(ENUM_SERVICE_STATUSW) - 1) /
                                                 sizeof(ENUM_SERVICE_STATUSW));
        DWORD needed = 0;
        DWORD returned = 0;
        DWORD resume = *resumeHandle;
        const BOOL ok = EnumServicesStatusW(handle_, serviceType, serviceState,
                                            bufferBytes == 0 ? nullptr : buffer.data(), bufferBytes,
                                            &needed, &returned, &resume);
        const ErrorCode code = Result(ok);
        *bytesNeeded = needed;
        *resumeHandle = resume;
        entries->clear();
        if (ok || code == ERROR_MORE_DATA) {
            for (DWORD i = 0; i < returned; ++i) {
                const ENUM_SERVICE_STATUSW& e = buffer[i];
                // Wine leaves the display name null for a service created without one.
                entries->push_back(ServiceEntry{e.lpServiceName != nullptr ? e.lpServiceName : L"",
                                                e.lpDisplayName != nullptr ? e.lpDisplayName : L"",
                                                FromWindows(e.ServiceStatus)});
            }
        }
        return code;
    }

  private:
    SC_HANDLE handle_;
};

// The dispatcher calls a WINAPI entry point with DWORD and LPWSTR*; the service's own entry
// point is a plain function, called through this thunk.
std::atomic<ServiceMainFunction> g_service_main{nullptr};

void WINAPI ServiceMainThunk(DWORD argc, LPWSTR* argv) {
    g_service_main.load()(argc, argv);
}

}  // namespace

std::unique_ptr<ServiceDatabase> Win32ServiceManager::Open(uint32_t access, ErrorCode* error) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, access);
    if (manager == nullptr) {
        *error = static_cast<ErrorCode>(GetLastError());
        return nullptr;
    }
    return std::make_unique<Win32ServiceDatabase>(manager);
}

ErrorCode Win32ServiceManager::RunDispatcher(const wchar_t* serviceName,
                                             ServiceMainFunction serviceMain) {
    g_service_main.store(serviceMain);
    SERVICE_TABLE_ENTRYW table[] = {{const_cast<wchar_t*>(serviceName), ServiceMainThunk},
                                    {nullptr, nullptr}};
    return Result(StartServiceCtrlDispatcherW(table));
}

}  // namespace platform::win32
