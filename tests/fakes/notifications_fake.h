// Device-notification registrations, recorded with their recipient, filter and flags.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/device_notifications.h"

namespace platform::fake {

struct FakeRegistration {
    StatusHandle recipient;
    DeviceInterfaceFilter filter;
    uint32_t flags;
    NotificationHandle handle;
};

// Calls that can be scripted to fail: "RegisterDeviceNotificationW",
// "UnregisterDeviceNotification". Handles are 1, 2, 3, ... in the order given.
class FakeDeviceNotifications : public DeviceNotifications {
  public:
    ErrorCode Register(StatusHandle recipient, const DeviceInterfaceFilter& filter, uint32_t flags,
                       NotificationHandle* handle) override;
    ErrorCode Unregister(NotificationHandle handle) override;

    std::vector<FakeRegistration> registrations() const;
    std::vector<NotificationHandle> unregistered() const;
    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    mutable std::mutex mutex_;
    std::vector<FakeRegistration> registrations_;
    std::vector<NotificationHandle> unregistered_;
};

}  // namespace platform::fake
