// An in-memory HKEY_LOCAL_MACHINE: keys with raw value bytes, every call able to fail.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/registry.h"

namespace platform::fake {

// Calls that can be scripted to fail: "RegOpenKeyW", "RegQueryValueExW"; "RegCloseKey" is
// counted. Key paths and value names compare without regard to ASCII letter case.
class FakeRegistry : public Registry {
  public:
    std::unique_ptr<RegistryKey> OpenLocalMachineKey(const std::wstring& path,
                                                     ErrorCode* error) override;

    void AddKey(const std::wstring& path);
    // Adds the key too when it is missing.
    void SetValue(const std::wstring& path, const std::wstring& name, std::vector<uint8_t> bytes);
    // A REG_SZ value: the text as UTF-16LE code units with a terminator.
    void SetString(const std::wstring& path, const std::wstring& name, const std::wstring& text);
    // The key paths given to RegOpenKeyW, in order.
    std::vector<std::wstring> OpenedKeys() const;
    // Keys opened and not yet closed.
    int OpenKeys() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeRegistryKey;
    using Values = std::map<std::wstring, std::vector<uint8_t>>;

    FailureScript script_;
    mutable std::mutex mutex_;
    std::map<std::wstring, Values> keys_;  // by lower-cased path, values by lower-cased name
    std::vector<std::wstring> opened_;
    int open_keys_ = 0;
};

}  // namespace platform::fake
