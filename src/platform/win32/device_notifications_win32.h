// Device-interface notifications to a service over the Win32 calls.
#pragma once

#include "platform/device_notifications.h"

namespace platform::win32 {

class Win32DeviceNotifications : public DeviceNotifications {
  public:
    ErrorCode Register(StatusHandle recipient, const DeviceInterfaceFilter& filter, uint32_t flags,
                       NotificationHandle* handle) override;
    ErrorCode Unregister(NotificationHandle handle) override;
};

}  // namespace platform::win32
