// The registry under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// An open registry key, closed (RegCloseKey) when the object goes.
class RegistryKey {
  public:
    virtual ~RegistryKey() = default;
    // RegQueryValueExW: the value's raw bytes into buffer, whatever its type. *size holds the
    // buffer's size in bytes on entry and the value's size on return (on success, and on
    // kMoreData, where it is the size needed and the buffer holds nothing usable).
    virtual ErrorCode QueryValue(const std::wstring& name, uint8_t* buffer, uint32_t* size) = 0;
};

class Registry {
  public:
    virtual ~Registry() = default;
    // RegOpenKeyW under HKEY_LOCAL_MACHINE. Null with *error set on failure.
    virtual std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path,
                                                             ErrorCode* error) = 0;
};

}  // namespace platform
