// An in-memory service control manager: a table of services with their configuration and
// state, enumeration in scripted batches, and a dispatcher that records what it was given.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/service_manager.h"

namespace platform::fake {

struct FakeService {
    std::wstring serviceName;
    std::wstring displayName;
    uint32_t serviceType = service::kWin32OwnProcess;
    uint32_t startType = service::kDemandStart;
    uint32_t errorControl = service::kErrorNormal;
    std::wstring commandLine;
    std::vector<std::wstring> dependencies;
    uint32_t state = service::kStopped;
    // The states that the status queries after a stop control report, one per query; the last
    // one stays. Empty: the service stops at once.
    std::vector<uint32_t> statesAfterStop;
    // What ChangeServiceConfig2W set: the failure actions (none until set) and the required
    // privileges (requiredPrivilegesSet tells an empty list from none set).
    std::optional<FailureActions> failureActions;
    std::vector<std::wstring> requiredPrivileges;
    bool requiredPrivilegesSet = false;
    // Deleted while it ran: it leaves the table once a query finds it stopped.
    bool markedForDelete = false;
};

// Calls that can be scripted to fail: "OpenSCManagerW", "CreateServiceW", "OpenServiceW",
// "StartServiceW", "ControlService", "QueryServiceStatus", "DeleteService",
// "ChangeServiceConfigW", "ChangeServiceConfig2W(FAILURE_ACTIONS)",
// "ChangeServiceConfig2W(REQUIRED_PRIVILEGES_INFO)" (kInvalidLevel there is Windows XP),
// "EnumServicesStatusW", "StartServiceCtrlDispatcherW";
// "CloseServiceHandle" is counted. Service names compare without regard to ASCII letter case.
// Each enumerated entry takes 36 bytes plus its two names with terminators, as UTF-16.
class FakeServiceManager : public ServiceManager {
  public:
    std::unique_ptr<ServiceDatabase> Open(uint32_t access, ErrorCode* error) override;
    // Records the service name and entry point and returns at once; the entry point is not run.
    ErrorCode RunDispatcher(const wchar_t* serviceName, ServiceMainFunction serviceMain) override;

    // Adds or replaces a service.
    void AddService(FakeService service);
    // Adds a service just before the given EnumServicesStatusW call (1: the first), as a
    // service installed between two calls of an enumeration.
    void AddServiceBeforeEnumCall(int call, FakeService service);
    // The most entries each enumeration call with a buffer returns, in call order; later calls
    // return as many as fit. A batch of 0 returns no entry and reports more data.
    void SetBatchSizes(std::vector<int> sizes);

    bool Has(const std::wstring& name) const;
    // A copy of the service's record (an empty record when it does not exist).
    FakeService Get(const std::wstring& name) const;
    // Handles opened and not yet closed (managers and services).
    int OpenHandles() const;
    // The access rights given to OpenSCManagerW, CreateServiceW and OpenServiceW, in call order.
    std::vector<uint32_t> AccessRequested() const;
    // The service names and entry points given to the dispatcher, in call order.
    std::vector<std::wstring> DispatchedNames() const;
    std::vector<ServiceMainFunction> DispatchedEntries() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeServiceDatabase;
    friend class FakeServiceHandle;

    FakeService* Find(const std::wstring& name);  // with mutex_ held

    FailureScript script_;
    mutable std::mutex mutex_;
    std::map<std::wstring, FakeService> services_;  // by lower-cased name, in name order
    std::multimap<int, FakeService> added_before_enum_;
    std::vector<int> batch_sizes_;
    int enum_calls_ = 0;
    size_t batches_used_ = 0;
    int open_handles_ = 0;
    std::vector<uint32_t> access_;
    std::vector<std::wstring> dispatched_;
    std::vector<ServiceMainFunction> entries_;
};

}  // namespace platform::fake
