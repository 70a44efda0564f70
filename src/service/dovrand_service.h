// The loader service: at start it disables the chip maker's own loader service, asks for
// arrivals of COM-port interfaces and makes one load attempt; then it sleeps until a card arrives
// in download mode or the service is told to stop. Each load attempt makes up to five tries of
// the download, 30 seconds apart.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "discovery/device_match.h"
#include "platform/critical_section.h"
#include "platform/device_notifications.h"
#include "service/windows_service.h"

namespace platform {
class Event;
}

// One device-notification registration for COM-port interfaces, unregistered when it goes.
class cDeviceNotification {
  public:
    explicit cDeviceNotification(platform::StatusHandle recipient) : recipient_(recipient) {}
    ~cDeviceNotification() { Unregister(); }
    cDeviceNotification(const cDeviceNotification&) = delete;
    cDeviceNotification& operator=(const cDeviceNotification&) = delete;

    // Registers for arrivals of interfaces of the class; a failure is logged and leaves none.
    void Register(const platform::Guid& interfaceClass);
    void Unregister();

  private:
    platform::NotificationHandle handle_ = 0;
    platform::StatusHandle recipient_;
};

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
inline constexpr platform::Guid kComPortInterfaceClass = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

class cDovrandService : public cWindowsService {
  public:
    cDovrandService();
    ~cDovrandService() override;

    uint32_t Run(uint32_t argc, wchar_t** argv) override;
    uint32_t OnControl(uint32_t control, uint32_t eventType, void* eventData,
                       void* context) override;
    void OnStop(uint32_t isShutdown) override;
    uint32_t GetControlsAccepted() override;
    const wchar_t* GetTitle() override;
    const wchar_t* GetServiceName() override;
    const wchar_t* GetDisplayName() override;

    // One load attempt: find the card, its port and its images, then up to five tries.
    // True when the firmware was loaded or was already there.
    bool LoadFirmware();
    // Stops and disables the first running loader service of the chip maker; true when one was
    // disabled. displayName (260 characters) gets the display name of the one found.
    bool DisableQdlServices(wchar_t (&displayName)[platform::kMaxPath]);

    // The no-preference switch of the start keys: the card's firmware preference is not used.
    void SetNoPreference(bool noPreference) { noPreference_ = noPreference; }
    bool NoPreference() const { return noPreference_; }

    // The remembered device, as a copy.
    DeviceMatch RememberedDevice();

    // The one service object of the process, the instance that ServiceMain runs.
    static cDovrandService& Global();

  protected:
    // Makes the new-device event (automatic reset, clear). False, with the error code (which
    // may be 0), when it was not made.
    bool CreateNewDeviceEvent(platform::ErrorCode* error);
    platform::Event* NewDeviceEvent();

  private:
    // Polls the stopped loader until it reports STOPPED, at most 10 s; a stop of this service
    // ends the wait at once. status is what the stop control returned.
    static void AwaitStopped(platform::Service& loader, platform::ServiceStatus status);

    // Guards the remembered device, its change count and the new-device event's life.
    platform::CriticalSection deviceLock_;
    std::unique_ptr<platform::Event> newDeviceEvent_;
    DeviceMatch device_;
    // Counts the arrivals and resumes, which may write the remembered device, so that a card
    // found by an attempt does not overwrite what the control handler wrote meanwhile.
    uint32_t deviceChanges_ = 0;
    std::atomic<bool> noPreference_{false};
};
