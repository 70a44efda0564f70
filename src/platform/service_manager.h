// The service control manager: services installed, started, stopped, enumerated, and the
// dispatcher that runs a service in this process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/service_host.h"
#include "platform/types.h"

namespace platform {

namespace service {
// Access rights.
constexpr uint32_t kManagerAllAccess = 0xF003F;  // SC_MANAGER_ALL_ACCESS
constexpr uint32_t kAllAccess = 0xF01FF;         // SERVICE_ALL_ACCESS
constexpr uint32_t kStopAccess = 0x20;           // SERVICE_STOP
constexpr uint32_t kChangeConfigAccess = 0x02;   // SERVICE_CHANGE_CONFIG
constexpr uint32_t kQueryStatusAccess = 0x04;    // SERVICE_QUERY_STATUS
// Service types.
constexpr uint32_t kWin32OwnProcess = 0x10;  // SERVICE_WIN32_OWN_PROCESS
constexpr uint32_t kWin32 = 0x30;            // SERVICE_WIN32: own and shared process
// Start types and error control.
constexpr uint32_t kAutoStart = 2;  // SERVICE_AUTO_START
constexpr uint32_t kDemandStart = 3;
constexpr uint32_t kDisabled = 4;     // SERVICE_DISABLED
constexpr uint32_t kErrorNormal = 1;  // SERVICE_ERROR_NORMAL
// Enumeration states.
constexpr uint32_t kActive = 1;  // SERVICE_ACTIVE
// Current states.
constexpr uint32_t kStopped = 1;
constexpr uint32_t kStartPending = 2;
constexpr uint32_t kStopPending = 3;
constexpr uint32_t kRunning = 4;
// Controls.
constexpr uint32_t kControlStop = 1;  // SERVICE_CONTROL_STOP
// What the service manager does after a failure of the service (SC_ACTION_TYPE).
constexpr uint32_t kActionNone = 0;     // SC_ACTION_NONE
constexpr uint32_t kActionRestart = 1;  // SC_ACTION_RESTART
}  // namespace service

namespace error {
constexpr ErrorCode kInvalidLevel = 124;  // a configuration level the system does not know
constexpr ErrorCode kServiceRequestTimeout = 1053;
constexpr ErrorCode kServiceAlreadyRunning = 1056;
constexpr ErrorCode kServiceDisabled = 1058;
constexpr ErrorCode kServiceDoesNotExist = 1060;
constexpr ErrorCode kServiceCannotAcceptCtrl = 1061;
constexpr ErrorCode kServiceNotActive = 1062;
constexpr ErrorCode kFailedServiceControllerConnect = 1063;
constexpr ErrorCode kServiceMarkedForDelete = 1072;
constexpr ErrorCode kServiceExists = 1073;
}  // namespace error

// One entry of EnumServicesStatusW.
struct ServiceEntry {
    std::wstring serviceName;
    std::wstring displayName;
    ServiceStatus status;
};

// What CreateServiceW is given; no load order group, no tag, the local system account.
struct ServiceConfig {
    std::wstring serviceName;
    std::wstring displayName;
    uint32_t access = 0;
    uint32_t serviceType = 0;
    uint32_t startType = 0;
    uint32_t errorControl = 0;
    std::wstring commandLine;     // the image path
    const wchar_t* dependencies;  // a list of strings ended by an empty one
};

// One action of the service manager after a failure: its type and the delay before it.
struct FailureAction {
    uint32_t type = 0;
    uint32_t delayMilliseconds = 0;
};

// The failure actions of a service: the first failure takes the first action, the second the
// second, and so on, the last one for every failure after; the count goes back to zero after
// resetPeriodSeconds without a failure. No reboot message, no command.
struct FailureActions {
    uint32_t resetPeriodSeconds = 0;
    std::vector<FailureAction> actions;
};

// An open service, closed (CloseServiceHandle) when the object goes.
class Service {
  public:
    virtual ~Service() = default;
    virtual ErrorCode Start() = 0;  // StartServiceW with no arguments
    // ControlService: *status gets the status that the call returns.
    virtual ErrorCode Control(uint32_t control, ServiceStatus* status) = 0;
    virtual ErrorCode QueryStatus(ServiceStatus* status) = 0;  // QueryServiceStatus
    virtual ErrorCode Delete() = 0;                            // DeleteService
    // ChangeServiceConfigW with this start type, SERVICE_NO_CHANGE for the service type and the
    // error control, and nothing else changed.
    virtual ErrorCode ChangeStartType(uint32_t startType) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_FAILURE_ACTIONS.
    virtual ErrorCode SetFailureActions(const FailureActions& failureActions) = 0;
    // ChangeServiceConfig2W with SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO (6): the only
    // privileges the service's process keeps when it starts. Windows before Vista does not know
    // the level and fails with kInvalidLevel.
    virtual ErrorCode SetRequiredPrivileges(const std::vector<std::wstring>& privileges) = 0;
};

// An open service control manager of the local machine, closed (CloseServiceHandle) when the
// object goes.
class ServiceDatabase {
  public:
    virtual ~ServiceDatabase() = default;
    // CreateServiceW. Null with *error set on failure.
    virtual std::unique_ptr<Service> CreateService(const ServiceConfig& config,
                                                   ErrorCode* error) = 0;
    // OpenServiceW. Null with *error set on failure.
    virtual std::unique_ptr<Service> OpenService(const std::wstring& name, uint32_t access,
                                                 ErrorCode* error) = 0;
    // EnumServicesStatusW into a buffer of bufferBytes bytes (0: no buffer). *entries gets the
    // entries returned, *bytesNeeded the bytes the call reports as still needed, and
    // *resumeHandle carries the enumeration on. Returns 0 when the enumeration is complete,
    // kMoreData when entries remain (also with no entry returned), or the call's error.
    virtual ErrorCode EnumServices(uint32_t serviceType, uint32_t serviceState,
                                   uint32_t bufferBytes, std::vector<ServiceEntry>* entries,
                                   uint32_t* bytesNeeded, uint32_t* resumeHandle) = 0;
};

// A service entry point as the dispatcher calls it.
using ServiceMainFunction = void (*)(uint32_t argc, wchar_t** argv);

class ServiceManager {
  public:
    virtual ~ServiceManager() = default;
    // OpenSCManagerW on the local machine, active database. Null with *error set on failure.
    virtual std::unique_ptr<ServiceDatabase> Open(uint32_t access, ErrorCode* error) = 0;
    // StartServiceCtrlDispatcherW with a table of this one service; returns once it has stopped.
    virtual ErrorCode RunDispatcher(const wchar_t* serviceName,
                                    ServiceMainFunction serviceMain) = 0;
};

}  // namespace platform
