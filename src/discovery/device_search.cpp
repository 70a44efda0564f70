#include "discovery/device_search.h"

#include <string>

#include "platform/devices.h"
#include "platform/platform.h"

bool FindGobiDevice(DeviceMatch& match) {
    platform::DeviceInterfaces* devices = platform::Get().devices;
    if (devices == nullptr) {
        return false;
    }
    platform::ErrorCode error = platform::error::kSuccess;
    const std::unique_ptr<platform::DeviceInterfaceSet> set = devices->OpenPresentComPorts(&error);
    if (set == nullptr) {
        return false;
    }
    for (uint32_t index = 0;; ++index) {
        uint32_t flags = 0;
        if (set->Enumerate(index, &flags) != platform::error::kSuccess) {
            return false;
        }
        if ((flags & platform::kInterfaceActive) == 0) {
            continue;
        }
        std::wstring path;
        if (set->DevicePath(&path) == platform::error::kSuccess &&
            MatchInterfacePath(path.c_str(), match)) {
            return true;
        }
    }
}
