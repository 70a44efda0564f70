// HKEY_LOCAL_MACHINE over RegOpenKeyW, RegQueryValueExW and RegCloseKey.
#pragma once

#include "platform/registry.h"

namespace platform::win32 {

class Win32Registry : public Registry {
  public:
    std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path,
                                                     ErrorCode* error) override;
};

}  // namespace platform::win32
