// Scripted present COM-port device interfaces, every call able to fail.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/devices.h"

namespace platform::fake {

struct FakeInterface {
    std::wstring path;
    uint32_t flags = kInterfaceActive;
    ErrorCode detailError = 0;  // what SetupDiGetDeviceInterfaceDetailW fails with, if not 0
};

// Calls that can be scripted to fail: "SetupDiGetClassDevsW", "SetupDiEnumDeviceInterfaces",
// "SetupDiGetDeviceInterfaceDetailW"; "SetupDiDestroyDeviceInfoList" is counted. The
// enumeration ends with kNoMoreItems behind the last interface.
class FakeDeviceInterfaces : public DeviceInterfaces {
  public:
    std::unique_ptr<DeviceInterfaceSet> OpenPresentComPorts(ErrorCode* error) override;

    void Add(FakeInterface device);
    void Add(const std::wstring& path) { Add(FakeInterface{path}); }
    // Sets made and not yet destroyed.
    int OpenSets() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeInterfaceSet;

    FailureScript script_;
    mutable std::mutex mutex_;
    std::vector<FakeInterface> interfaces_;
    int open_sets_ = 0;
};

}  // namespace platform::fake
