// Enumeration of the present COM-port device interfaces (SetupAPI).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// SPINT_ACTIVE: the interface is active (enabled) in its device-interface flags.
constexpr uint32_t kInterfaceActive = 0x1;

// A device-information set of the present COM-port interfaces; destroyed
// (SetupDiDestroyDeviceInfoList) when the object goes.
class DeviceInterfaceSet {
  public:
    virtual ~DeviceInterfaceSet() = default;
    // SetupDiEnumDeviceInterfaces for member `index` of the COM-port interface class; on
    // success *flags gets the interface's flags and the member becomes the current one.
    // kNoMoreItems after the last member.
    virtual ErrorCode Enumerate(uint32_t index, uint32_t* flags) = 0;
    // SetupDiGetDeviceInterfaceDetailW of the current member: its device path, read from a
    // cleared detail buffer of 8,198 bytes and never past it.
    virtual ErrorCode DevicePath(std::wstring* path) = 0;
};

class DeviceInterfaces {
  public:
    virtual ~DeviceInterfaces() = default;
    // SetupDiGetClassDevsW for GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73},
    // no enumerator, no window, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE. Null with *error set.
    virtual std::unique_ptr<DeviceInterfaceSet> OpenPresentComPorts(ErrorCode* error) = 0;
};

}  // namespace platform
