// Registry writes under HKEY_LOCAL_MACHINE (the event-log source of the service).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

namespace registry {
constexpr uint32_t kReadWrite = 0x2001F;  // KEY_READ | KEY_WRITE
constexpr uint32_t kDword = 4;            // REG_DWORD
constexpr uint32_t kExpandString = 2;     // REG_EXPAND_SZ
}  // namespace registry

// A registry key open for writing, closed (RegCloseKey) when the object goes.
class WritableKey {
  public:
    virtual ~WritableKey() = default;
    // RegCreateKeyExW: creates the subkey, or opens it when it exists; non-volatile, default
    // security. Null with *error set on failure.
    virtual std::unique_ptr<WritableKey> CreateSubKey(const std::wstring& name, uint32_t access,
                                                      ErrorCode* error) = 0;
    // RegSetValueExW with the value's type and raw bytes.
    virtual ErrorCode SetValue(const std::wstring& name, uint32_t type, const uint8_t* data,
                               uint32_t size) = 0;
};

class RegistryWrites {
  public:
    virtual ~RegistryWrites() = default;
    // RegOpenKeyExW under HKEY_LOCAL_MACHINE. Null with *error set on failure.
    virtual std::unique_ptr<WritableKey> OpenLocalMachineKey(const std::wstring& path,
                                                             uint32_t access, ErrorCode* error) = 0;
};

}  // namespace platform
