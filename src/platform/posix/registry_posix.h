// HKEY_LOCAL_MACHINE on the host, as a folder tree: the key A\B\C is the folder
// $DOVRAND_REGISTRY/HKLM/A/B/C (default /tmp/dovrand/registry), and each of its values is a file
// in that folder, named after the value and holding the value's raw bytes (a REG_SZ value:
// UTF-16LE with its terminator). Names are compared with their letter case, as the host's file
// system does.
#pragma once

#include "platform/registry.h"

namespace platform::posix {

class PosixRegistry : public Registry {
  public:
    std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path,
                                                     ErrorCode* error) override;
};

}  // namespace platform::posix
