// Device-interface notifications sent to a service (RegisterDeviceNotificationW with
// DEVICE_NOTIFY_SERVICE_HANDLE, UnregisterDeviceNotification).
#pragma once

#include <cstdint>

#include "platform/service_host.h"
#include "platform/types.h"

namespace platform {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    uint8_t data4[8] = {};
};

// The header fields of the DEV_BROADCAST_DEVICEINTERFACE_W filter and its class; the name is
// always empty.
struct DeviceInterfaceFilter {
    uint32_t size = 0;        // dbcc_size
    uint32_t deviceType = 0;  // dbcc_devicetype
    uint32_t reserved = 0;    // dbcc_reserved
    Guid classGuid;           // dbcc_classguid
};

// HDEVNOTIFY, opaque; 0 is none.
using NotificationHandle = uintptr_t;

class DeviceNotifications {
  public:
    virtual ~DeviceNotifications() = default;
    // RegisterDeviceNotificationW (recipient, filter, flags). Sets *handle on success.
    virtual ErrorCode Register(StatusHandle recipient, const DeviceInterfaceFilter& filter,
                               uint32_t flags, NotificationHandle* handle) = 0;
    // UnregisterDeviceNotification.
    virtual ErrorCode Unregister(NotificationHandle handle) = 0;
};

}  // namespace platform
