#include "fakes/service_manager_fake.h"

#include "platform/ascii_case.h"

namespace platform::fake {

namespace {

uint32_t EntryBytes(const FakeService& s) {
    return static_cast<uint32_t>(36 + 2 * (s.serviceName.size() + 1 + s.displayName.size() + 1));
}

ServiceStatus StatusOf(const FakeService& s) {
    ServiceStatus status;
    status.serviceType = s.serviceType;
    status.currentState = s.state;
    return status;
}

}  // namespace

class FakeServiceHandle : public Service {
  public:
    // access: the rights the handle was opened with; a call that needs a right the handle lacks
    // fails with ERROR_ACCESS_DENIED, as the service manager checks it.
    FakeServiceHandle(FakeServiceManager& manager, std::wstring name, uint32_t access)
        : manager_(manager), name_(std::move(name)), access_(access) {}

    ~FakeServiceHandle() override {
        manager_.script_.Check("CloseServiceHandle");
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        --manager_.open_handles_;
    }

    ErrorCode Start() override {
        if (ErrorCode code = manager_.script_.Check("StartServiceW"); code != 0) {
            return code;
        }
        if ((access_ & 0x10) == 0) {
            return error::kAccessDenied;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        FakeService* s = manager_.Find(name_);
        if (s == nullptr) {
            return error::kServiceDoesNotExist;
        }
        if (s->startType == service::kDisabled) {
            return error::kServiceDisabled;
        }
        if (s->state != service::kStopped) {
            return error::kServiceAlreadyRunning;
        }
        s->state = service::kRunning;
        return 0;
    }

    ErrorCode Control(uint32_t control, ServiceStatus* status) override {
        if (ErrorCode code = manager_.script_.Check("ControlService"); code != 0) {
            return code;
        }
        if ((access_ & 0x20) == 0) {
            return error::kAccessDenied;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        FakeService* s = manager_.Find(name_);
        if (s == nullptr) {
            return error::kServiceDoesNotExist;
        }
        if (s->state == service::kStopped) {
            return error::kServiceNotActive;
        }
        if (control != service::kControlStop) {
            return error::kInvalidParameter;
        }
        s->state = s->statesAfterStop.empty() ? service::kStopped : service::kStopPending;
        *status = StatusOf(*s);
        return 0;
    }

    ErrorCode QueryStatus(ServiceStatus* status) override {
        if (ErrorCode code = manager_.script_.Check("QueryServiceStatus"); code != 0) {
            return code;
        }
        if ((access_ & 0x04) == 0) {
            return error::kAccessDenied;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        FakeService* s = manager_.Find(name_);
        if (s == nullptr) {
            return error::kServiceDoesNotExist;
        }
        if (s->state == service::kStopPending && !s->statesAfterStop.empty()) {
            s->state = s->statesAfterStop.front();
            if (s->statesAfterStop.size() > 1) {
                s->statesAfterStop.erase(s->statesAfterStop.begin());
            }
        }
        *status = StatusOf(*s);
        if (s->markedForDelete && s->state == service::kStopped) {
            manager_.services_.erase(LowerCaseAscii(name_));
        }
        return 0;
    }

    ErrorCode Delete() override {
        if (ErrorCode code = manager_.script_.Check("DeleteService"); code != 0) {
            return code;
        }
        if ((access_ & 0x10000) == 0) {
            return error::kAccessDenied;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        FakeService* s = manager_.Find(name_);
        if (s == nullptr) {
            return error::kServiceDoesNotExist;
        }
        if (s->markedForDelete) {
            return error::kServiceMarkedForDelete;
        }
        if (s->state == service::kStopped) {
            manager_.services_.erase(LowerCaseAscii(name_));
        } else {
            s->markedForDelete = true;
        }
        return 0;
    }

    ErrorCode ChangeStartType(uint32_t startType) override {
        return Configure("ChangeServiceConfigW", [&](FakeService& s) { s.startType = startType; });
    }

    ErrorCode SetFailureActions(const FailureActions& failureActions) override {
        return Configure("ChangeServiceConfig2W(FAILURE_ACTIONS)",
                         [&](FakeService& s) { s.failureActions = failureActions; });
    }

    ErrorCode SetRequiredPrivileges(const std::vector<std::wstring>& privileges) override {
        return Configure("ChangeServiceConfig2W(REQUIRED_PRIVILEGES_INFO)", [&](FakeService& s) {
            s.requiredPrivileges = privileges;
            s.requiredPrivilegesSet = true;
        });
    }

  private:
    // A change of the service's configuration: it needs SERVICE_CHANGE_CONFIG, as both
    // ChangeServiceConfigW and ChangeServiceConfig2W do.
    template <typename Change>
    ErrorCode Configure(const char* call, Change change) {
        if (ErrorCode code = manager_.script_.Check(call); code != 0) {
            return code;
        }
        if ((access_ & 0x02) == 0) {
            return error::kAccessDenied;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        FakeService* s = manager_.Find(name_);
        if (s == nullptr) {
            return error::kServiceDoesNotExist;
        }
        change(*s);
        return 0;
    }

    FakeServiceManager& manager_;
    std::wstring name_;
    uint32_t access_;
};

class FakeServiceDatabase : public ServiceDatabase {
  public:
    explicit FakeServiceDatabase(FakeServiceManager& manager) : manager_(manager) {}

    ~FakeServiceDatabase() override {
        manager_.script_.Check("CloseServiceHandle");
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        --manager_.open_handles_;
    }

    std::unique_ptr<Service> CreateService(const ServiceConfig& c, ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(manager_.mutex_);
            manager_.access_.push_back(c.access);
        }
        if (ErrorCode code = manager_.script_.Check("CreateServiceW"); code != 0) {
            *error = code;
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        if (const FakeService* s = manager_.Find(c.serviceName); s != nullptr) {
            *error = s->markedForDelete ? error::kServiceMarkedForDelete : error::kServiceExists;
            return nullptr;
        }
        FakeService s;
        s.serviceName = c.serviceName;
        s.displayName = c.displayName;
        s.serviceType = c.serviceType;
        s.startType = c.startType;
        s.errorControl = c.errorControl;
        s.commandLine = c.commandLine;
        for (const wchar_t* d = c.dependencies; d != nullptr && *d != L'\0';) {
            s.dependencies.emplace_back(d);
            d += s.dependencies.back().size() + 1;
        }
        manager_.services_[LowerCaseAscii(c.serviceName)] = std::move(s);
        ++manager_.open_handles_;
        return std::make_unique<FakeServiceHandle>(manager_, c.serviceName, c.access);
    }

    std::unique_ptr<Service> OpenService(const std::wstring& name, uint32_t access,
                                         ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(manager_.mutex_);
            manager_.access_.push_back(access);
        }
        if (ErrorCode code = manager_.script_.Check("OpenServiceW"); code != 0) {
            *error = code;
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        if (manager_.Find(name) == nullptr) {
            *error = error::kServiceDoesNotExist;
            return nullptr;
        }
        ++manager_.open_handles_;
        return std::make_unique<FakeServiceHandle>(manager_, name, access);
    }

    ErrorCode EnumServices(uint32_t serviceType, uint32_t serviceState, uint32_t bufferBytes,
                           std::vector<ServiceEntry>* entries, uint32_t* bytesNeeded,
                           uint32_t* resumeHandle) override {
        entries->clear();
        *bytesNeeded = 0;
        int call = 0;
        {
            std::lock_guard<std::mutex> lock(manager_.mutex_);
            call = ++manager_.enum_calls_;
            auto [first, last] = manager_.added_before_enum_.equal_range(call);
            for (auto it = first; it != last; ++it) {
                manager_.services_[LowerCaseAscii(it->second.serviceName)] = it->second;
            }
        }
        if (ErrorCode code = manager_.script_.Check("EnumServicesStatusW"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(manager_.mutex_);
        std::vector<const FakeService*> listed;
        for (const auto& [key, s] : manager_.services_) {
            const bool active = s.state != service::kStopped;
            const bool wanted = serviceState == service::kActive ? active : !active;
            if ((s.serviceType & serviceType) != 0 && (wanted || serviceState == 3)) {
                listed.push_back(&s);
            }
        }
        size_t next = *resumeHandle;
        int limit = -1;
        if (bufferBytes > 0) {
            // Batch sizes count the calls made with a buffer.
            const size_t batch = manager_.batches_used_++;
            if (batch < manager_.batch_sizes_.size()) {
                limit = manager_.batch_sizes_[batch];
            }
        }
        uint32_t used = 0;
        while (next < listed.size() && limit != 0 &&
               used + EntryBytes(*listed[next]) <= bufferBytes) {
            used += EntryBytes(*listed[next]);
            entries->push_back(ServiceEntry{listed[next]->serviceName, listed[next]->displayName,
                                            StatusOf(*listed[next])});
            ++next;
            if (limit > 0) {
                --limit;
            }
        }
        if (next >= listed.size()) {
            *resumeHandle = 0;
            return 0;
        }
        for (size_t i = next; i < listed.size(); ++i) {
            *bytesNeeded += EntryBytes(*listed[i]);
        }
        *resumeHandle = static_cast<uint32_t>(next);
        return error::kMoreData;
    }

  private:
    FakeServiceManager& manager_;
};

std::unique_ptr<ServiceDatabase> FakeServiceManager::Open(uint32_t access, ErrorCode* error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        access_.push_back(access);
    }
    if (ErrorCode code = script_.Check("OpenSCManagerW"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_handles_;
    return std::make_unique<FakeServiceDatabase>(*this);
}

ErrorCode FakeServiceManager::RunDispatcher(const wchar_t* serviceName,
                                            ServiceMainFunction serviceMain) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dispatched_.emplace_back(serviceName);
        entries_.push_back(serviceMain);
    }
    return script_.Check("StartServiceCtrlDispatcherW");
}

void FakeServiceManager::AddService(FakeService service) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_[LowerCaseAscii(service.serviceName)] = std::move(service);
}

void FakeServiceManager::AddServiceBeforeEnumCall(int call, FakeService service) {
    std::lock_guard<std::mutex> lock(mutex_);
    added_before_enum_.emplace(call, std::move(service));
}

void FakeServiceManager::SetBatchSizes(std::vector<int> sizes) {
    std::lock_guard<std::mutex> lock(mutex_);
    batch_sizes_ = std::move(sizes);
}

bool FakeServiceManager::Has(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return services_.count(LowerCaseAscii(name)) != 0;
}

FakeService FakeServiceManager::Get(const std::wstring& name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = services_.find(LowerCaseAscii(name));
    return it == services_.end() ? FakeService{} : it->second;
}

int FakeServiceManager::OpenHandles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_handles_;
}

std::vector<uint32_t> FakeServiceManager::AccessRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return access_;
}

std::vector<std::wstring> FakeServiceManager::DispatchedNames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dispatched_;
}

std::vector<ServiceMainFunction> FakeServiceManager::DispatchedEntries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

FakeService* FakeServiceManager::Find(const std::wstring& name) {
    auto it = services_.find(LowerCaseAscii(name));
    return it == services_.end() ? nullptr : &it->second;
}

}  // namespace platform::fake
