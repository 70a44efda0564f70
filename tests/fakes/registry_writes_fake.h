// An in-memory HKEY_LOCAL_MACHINE for writes: keys that exist, every value written in order
// with its type and bytes, every call able to fail.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/registry_writes.h"

namespace platform::fake {

struct WrittenValue {
    std::wstring key;  // full path under HKEY_LOCAL_MACHINE
    std::wstring name;
    uint32_t type;
    std::vector<uint8_t> data;
};

// Calls that can be scripted to fail: "RegOpenKeyExW", "RegCreateKeyExW", "RegSetValueExW";
// "RegCloseKey" is counted. Key paths compare without regard to ASCII letter case.
class FakeRegistryWrites : public RegistryWrites {
  public:
    std::unique_ptr<WritableKey> OpenLocalMachineKey(const std::wstring& path, uint32_t access,
                                                     ErrorCode* error) override;

    void AddKey(const std::wstring& path);
    bool HasKey(const std::wstring& path) const;
    std::vector<WrittenValue> Written() const;
    // The access rights given to every open and create, in call order.
    std::vector<uint32_t> AccessRequested() const;
    int OpenKeys() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeWritableKey;

    FailureScript script_;
    mutable std::mutex mutex_;
    std::set<std::wstring> keys_;  // lower-cased paths
    std::vector<WrittenValue> written_;
    std::vector<uint32_t> access_;
    int open_keys_ = 0;
};

}  // namespace platform::fake
