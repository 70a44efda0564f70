#include "platform/win32/device_notifications_win32.h"

#include "platform/win32/windows_api.h"

#include <dbt.h>

#include <cstring>

namespace platform::win32 {

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32);

ErrorCode Win32DeviceNotifications::Register(StatusHandle recipient,
                                             const DeviceInterfaceFilter& filter, uint32_t flags,
                                             NotificationHandle* handle) {
    DEV_BROADCAST_DEVICEINTERFACE_W record;
    std::memset(&record, 0, sizeof(record));
    record.dbcc_size = filter.size;
    record.dbcc_devicetype = filter.deviceType;
    record.dbcc_reserved = filter.reserved;
    record.dbcc_classguid.Data1 = filter.classGuid.data1;
    record.dbcc_classguid.Data2 = filter.classGuid.data2;
    record.dbcc_classguid.Data3 = filter.classGuid.data3;
    std::memcpy(record.dbcc_classguid.Data4, filter.classGuid.data4, 8);
    HDEVNOTIFY result =
        RegisterDeviceNotificationW(reinterpret_cast<HANDLE>(recipient), &record, flags);
    if (result == nullptr) {
        return GetLastError();
    }
    *handle = reinterpret_cast<NotificationHandle>(result);
    return 0;
}

ErrorCode Win32DeviceNotifications::Unregister(NotificationHandle handle) {
    if (!UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(handle))) {
        return GetLastError();
    }
    return 0;
}

}  // namespace platform::win32
