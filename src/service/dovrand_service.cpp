#include "service/dovrand_service.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "discovery/device_broadcast.h"
#include "discovery/load_attempt.h"
#include "download/load_to_port.h"
#include "download/serial_port.h"
#include "log/log.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "platform/sync.h"
#include "service/service_names.h"

namespace {

constexpr int kTries = 5;
constexpr int kRetryWaitSeconds = 30;
constexpr uint32_t kRetryWaitMs = kRetryWaitSeconds * 1000;
constexpr uint32_t kStopWaitHintMs = 3000;
constexpr int32_t kStartFailed = 2;

// Device events (DBT_*) and power events (PBT_*) that the service handles.
constexpr uint32_t kDeviceArrival = 0x8000;
constexpr uint32_t kDeviceRemoveComplete = 0x8004;
constexpr uint32_t kSuspend = 4;
constexpr uint32_t kResumeCritical = 6;
constexpr uint32_t kResumeSuspend = 7;
constexpr uint32_t kResumeAutomatic = 18;

constexpr uint32_t kNotifyServiceHandle = 1;  // DEVICE_NOTIFY_SERVICE_HANDLE

// How long the chip maker's loader is given to reach STOPPED: 40 polls, 250 ms apart (10 s).
constexpr int kLoaderStopPolls = 40;
constexpr uint32_t kLoaderStopPollMs = 250;

cDovrandService g_service;
[[maybe_unused]] const bool g_serviceInstalled = (cWindowsService::SetInstance(&g_service), true);

}  // namespace

void cDeviceNotification::Register(const platform::Guid& interfaceClass) {
    platform::DeviceInterfaceFilter filter;
    filter.size = kBroadcastInterfaceMinSize;
    filter.deviceType = kDeviceTypeInterface;
    filter.reserved = 0;
    filter.classGuid = interfaceClass;
    platform::NotificationHandle handle = 0;
    const platform::ErrorCode error =
        platform::Get().notifications->Register(recipient_, filter, kNotifyServiceHandle, &handle);
    // The registration is what was returned, whatever the error code says: a failure whose
    // last error is 0 is a failure all the same.
    handle_ = handle;
    if (handle_ == 0) {
        LogWrite(L"RegisterDeviceNotification returned: %ls", ErrorText(error));
    }
}

void cDeviceNotification::Unregister() {
    if (handle_ != 0) {
        platform::Get().notifications->Unregister(handle_);
        handle_ = 0;
    }
}

cDovrandService::cDovrandService() = default;
cDovrandService::~cDovrandService() = default;

cDovrandService& cDovrandService::Global() {
    return g_service;
}

uint32_t cDovrandService::GetControlsAccepted() {
    return service_state::kAcceptPowerEvent;
}

const wchar_t* cDovrandService::GetTitle() {
    return names::kTitle;
}

const wchar_t* cDovrandService::GetServiceName() {
    return names::kServiceName;
}

const wchar_t* cDovrandService::GetDisplayName() {
    return names::kDisplayName;
}

DeviceMatch cDovrandService::RememberedDevice() {
    platform::LockGuard lock(deviceLock_);
    return device_;
}

bool cDovrandService::CreateNewDeviceEvent(platform::ErrorCode* error) {
    *error = 0;
    std::unique_ptr<platform::Event> event = platform::Get().sync->CreateEvent(false, false, error);
    platform::LockGuard lock(deviceLock_);
    newDeviceEvent_ = std::move(event);
    return newDeviceEvent_ != nullptr;
}

platform::Event* cDovrandService::NewDeviceEvent() {
    platform::LockGuard lock(deviceLock_);
    return newDeviceEvent_.get();
}

uint32_t cDovrandService::Run(uint32_t /*argc*/, wchar_t** /*argv*/) {
    const platform::Platform& p = platform::Get();
    uint32_t result = 0;
    // Decided on the event, not on the error code: a failure may come with a last error of 0.
    if (platform::ErrorCode error = 0; !CreateNewDeviceEvent(&error)) {
        ReportError(L"Unable to create NewDeviceEvent (%ls)", ErrorText(error));
        result = kStartFailed;
    }
    ReportStatus();
    cDeviceNotification notification(StatusHandle());
    if (result == 0) {
        notification.Register(kComPortInterfaceClass);
    }
    ReportStatus();

    if (result == 0) {
        wchar_t displayName[platform::kMaxPath] = {};
        if (DisableQdlServices(displayName)) {
            LogWrite(L"Service \"%ls\" stopped and disabled.", displayName);
        }
        ReportStatus();
        // RUNNING before the start-time attempt: while a service is starting the service manager
        // holds its lock (every other start waits) and stops a service whose start outlasts 80 s
        // plus its wait hint, and an attempt whose tries fail takes over two minutes. A stop
        // during the attempt cancels it as during any later attempt.
        ReportRunning();
        LoadFirmware();
        LogWrite(L"Service successfully started!");

        platform::Event* const events[2] = {StopEvent(), NewDeviceEvent()};
        for (;;) {
            const platform::WaitResult woke = p.sync->WaitAny(events, 2, platform::kInfinite);
            if (woke.status == platform::WaitStatus::kSignaled && woke.index == 1) {
                LogWrite(L"New Gobi 1000/2000 device arrived. Loading Firmware...");
                LoadFirmware();
                continue;
            }
            if (woke.status != platform::WaitStatus::kSignaled) {
                // Neither event: waiting again could only fail again, so the service ends,
                // with the exit code of work that cannot go on.
                ReportError(L"WaitForMultipleObjects returned: %ls", ErrorText(woke.code));
                result = kStartFailed;
            }
            break;
        }
        LogWrite(L"Stopping service...");
        ReportState(service_state::kStopPending, kStopWaitHintMs);
        notification.Unregister();
    }

    {
        platform::LockGuard lock(deviceLock_);
        newDeviceEvent_.reset();
    }
    notification.Unregister();
    return result;
}

uint32_t cDovrandService::OnControl(uint32_t control, uint32_t eventType, void* eventData,
                                    void* /*context*/) {
    if (control == service_control::kDeviceEvent) {
        if (eventType == kDeviceArrival) {
            LogWrite(L"DBT_DEVICEARRIVAL");
            platform::LockGuard lock(deviceLock_);
            const bool download = IsGobiArrival(eventData, device_);
            ++deviceChanges_;
            // The record is written before the event wakes the attempt that reads it.
            if (download && newDeviceEvent_) {
                newDeviceEvent_->Set();
            }
        } else if (eventType == kDeviceRemoveComplete) {
            LogWrite(L"DBT_DEVICEREMOVECOMPLETE");
        }
        return 0;
    }
    if (control == service_control::kPowerEvent) {
        const wchar_t* resume = nullptr;
        switch (eventType) {
            case kSuspend:
                LogWrite(L"PBT_APMSUSPEND");
                CancelCurrentPort();
                break;
            case kResumeCritical:
                resume = L"PBT_APMRESUMECRITICAL";
                break;
            case kResumeSuspend:
                resume = L"PBT_APMRESUMESUSPEND";
                break;
            case kResumeAutomatic:
                resume = L"PBT_APMRESUMEAUTOMATIC";
                break;
            default:
                break;
        }
        if (resume != nullptr) {
            LogWrite(resume);
            platform::LockGuard lock(deviceLock_);
            device_.Reference = kNoDevice;
            ++deviceChanges_;
        }
        return 0;
    }
    return service_control::kCallNotImplemented;
}

void cDovrandService::OnStop(uint32_t /*isShutdown*/) {
    CancelCurrentPort();
}

bool cDovrandService::LoadFirmware() {
    const platform::Platform& p = platform::Get();
    DeviceMatch device;
    uint32_t changes = 0;
    {
        platform::LockGuard lock(deviceLock_);
        device = device_;
        changes = deviceChanges_;
    }
    const bool search = device.Reference == kNoDevice;
    std::wstring port;
    FirmwareFileSet files;
    const LoadPreparation prepared = PrepareLoad(device, noPreference_.load(), &port, &files);
    if (search && device.Reference != kNoDevice) {
        // The card found is remembered, unless the control handler has written the record since.
        platform::LockGuard lock(deviceLock_);
        if (deviceChanges_ == changes) {
            device_ = device;
        }
    }
    if (prepared != LoadPreparation::kReady) {
        return prepared == LoadPreparation::kAlreadyLoaded;
    }

    platform::Event* stop = StopEvent();
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        if (attempt > 1) {
            LogWrite(L"Error occured while loading of firmware. Waiting %d seconds to retry...",
                     kRetryWaitSeconds);
            const platform::WaitResult waited = p.sync->WaitAny(&stop, 1, kRetryWaitMs);
            if (waited.status == platform::WaitStatus::kSignaled) {
                return false;
            }
            if (waited.status != platform::WaitStatus::kTimeout) {
                break;
            }
            LogWrite(L"Trying to load firmware again (attempt %d).", attempt);
        }
        // A stop or suspend finds no port to cancel until the try has made its port current.
        // One that came before this point is seen here: a stop ends the attempt, as it ends the
        // waits between tries. One that comes after the ticket reaches the try's port, which
        // then fails its first step as cancelled, instead of running a whole try.
        const uint32_t ticket = CancelTicket();
        if (p.sync->WaitAny(&stop, 1, 0).status == platform::WaitStatus::kSignaled) {
            return false;
        }
        const uint32_t priorityClass = p.process->GetPriorityClass();
        p.process->SetPriorityClass(platform::kAboveNormalPriorityClass);
        const int threadPriority = p.process->GetThreadPriority();
        p.process->SetThreadPriority(platform::kThreadPriorityHighest);
        const bool loaded = LoadToPort(port, files, ticket);
        p.process->SetThreadPriority(threadPriority);
        p.process->SetPriorityClass(priorityClass);
        if (loaded) {
            return true;
        }
    }
    LogWrite(L"Unable to load firmware to this Gobi WWAN Card :-(");
    return false;
}

namespace {

// The chip maker's loader services: a name that begins with "QDLService2k" (Gobi 2000), or is
// "QDLService" (Gobi 1000), in any letter case.
bool IsQdlService(const std::wstring& name) {
    constexpr size_t kGobi2000Prefix = 12;
    return EqualNoCase(name.c_str(), L"QDLService2k", kGobi2000Prefix) ||
           EqualNoCase(name.c_str(), L"QDLService", std::wstring::npos);
}

}  // namespace

void cDovrandService::AwaitStopped(platform::Service& loader, platform::ServiceStatus status) {
    platform::Event* stop = StopEvent();
    for (int poll = 0;
         poll < kLoaderStopPolls && status.currentState != platform::service::kStopped; ++poll) {
        // A stop of this service (or a wait that fails) ends the wait at once; so does a
        // loader whose status cannot be read. Not running as a service, nothing is waited for.
        if (stop == nullptr ||
            platform::Get().sync->WaitAny(&stop, 1, kLoaderStopPollMs).status !=
                platform::WaitStatus::kTimeout ||
            loader.QueryStatus(&status) != 0) {
            return;
        }
    }
}

bool cDovrandService::DisableQdlServices(wchar_t (&displayName)[platform::kMaxPath]) {
    namespace svc = platform::service;
    platform::ErrorCode error = 0;
    std::unique_ptr<platform::ServiceDatabase> manager =
        platform::Get().services->Open(svc::kManagerAllAccess, &error);
    if (!manager) {
        return false;
    }
    std::vector<platform::ServiceEntry> entries;
    uint32_t needed = 0;
    uint32_t resume = 0;
    error = manager->EnumServices(svc::kWin32, svc::kActive, 0, &entries, &needed, &resume);
    if (error != platform::error::kInsufficientBuffer && error != platform::error::kMoreData) {
        return false;
    }

    uint32_t bufferBytes = needed;
    resume = 0;
    for (;;) {
        error = manager->EnumServices(svc::kWin32, svc::kActive, bufferBytes, &entries, &needed,
                                      &resume);
        if (error != 0 && error != platform::error::kMoreData) {
            return false;
        }
        for (const platform::ServiceEntry& entry : entries) {
            if (!IsQdlService(entry.serviceName)) {
                continue;
            }
            const size_t kept = std::min(entry.displayName.size(), platform::kMaxPath - 1);
            std::wmemcpy(displayName, entry.displayName.data(), kept);
            displayName[kept] = L'\0';
            std::unique_ptr<platform::Service> service = manager->OpenService(
                entry.serviceName,
                svc::kStopAccess | svc::kChangeConfigAccess | svc::kQueryStatusAccess, &error);
            if (!service) {
                return false;
            }
            // ControlService returns once the loader's handler has taken the stop, which may be
            // before the loader has closed the card's port (opened without sharing): the first
            // try would then fail on it and wait 30 s. So a stop that was accepted is followed
            // until the loader reports STOPPED, for a bounded time.
            platform::ServiceStatus status;
            if (service->Control(svc::kControlStop, &status) == 0) {
                AwaitStopped(*service, status);
            }
            return service->ChangeStartType(svc::kDisabled) == 0;
        }
        if (error != platform::error::kMoreData) {
            return false;
        }
        if (entries.empty()) {
            // More data but no entry: the buffer is too small for the next entry (a service was
            // added since the size was asked). Asking again with the same buffer would give the
            // same answer for ever, so the buffer grows to the size now needed, or the search
            // ends when it would not grow.
            if (needed <= bufferBytes) {
                return false;
            }
            bufferBytes = needed;
        }
    }
}
