#include "fakes/notifications_fake.h"

namespace platform::fake {

ErrorCode FakeDeviceNotifications::Register(StatusHandle recipient,
                                            const DeviceInterfaceFilter& filter, uint32_t flags,
                                            NotificationHandle* handle) {
    if (ErrorCode code = script_.Check("RegisterDeviceNotificationW"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *handle = registrations_.size() + 1;
    registrations_.push_back(FakeRegistration{recipient, filter, flags, *handle});
    return 0;
}

ErrorCode FakeDeviceNotifications::Unregister(NotificationHandle handle) {
    const ErrorCode code = script_.Check("UnregisterDeviceNotification");
    std::lock_guard<std::mutex> lock(mutex_);
    unregistered_.push_back(handle);
    return code;
}

std::vector<FakeRegistration> FakeDeviceNotifications::registrations() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return registrations_;
}

std::vector<NotificationHandle> FakeDeviceNotifications::unregistered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return unregistered_;
}

}  // namespace platform::fake
