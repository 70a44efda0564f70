// Registry writes under HKEY_LOCAL_MACHINE over RegOpenKeyExW, RegCreateKeyExW and
// RegSetValueExW.
#pragma once

#include "platform/registry_writes.h"

namespace platform::win32 {

class Win32RegistryWrites : public RegistryWrites {
  public:
    std::unique_ptr<WritableKey> OpenLocalMachineKey(const std::wstring& path, uint32_t access,
                                                     ErrorCode* error) override;
};

}  // namespace platform::win32
