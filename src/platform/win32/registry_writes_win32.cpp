#include "platform/win32/registry_writes_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

class Win32WritableKey : public WritableKey {
  public:
    explicit Win32WritableKey(HKEY key) : key_(key) {}
    ~Win32WritableKey() override { RegCloseKey(key_); }

    std::unique_ptr<WritableKey> CreateSubKey(const std::wstring& name, uint32_t access,
                                              ErrorCode* error) override {
        HKEY key = nullptr;
        const LSTATUS status =
            RegCreateKeyExW(key_, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                            nullptr, &key, nullptr);
        if (status != ERROR_SUCCESS) {
            *error = static_cast<ErrorCode>(status);
            return nullptr;
        }
        return std::make_unique<Win32WritableKey>(key);
    }

    ErrorCode SetValue(const std::wstring& name, uint32_t type, const uint8_t* data,
                       uint32_t size) override {
        return static_cast<ErrorCode>(RegSetValueExW(key_, name.c_str(), 0, type, data, size));
    }

  private:
    HKEY key_;
};

}  // namespace

std::unique_ptr<WritableKey> Win32RegistryWrites::OpenLocalMachineKey(const std::wstring& path,
                                                                      uint32_t access,
                                                                      ErrorCode* error) {
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, access, &key);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<ErrorCode>(status);
        return nullptr;
    }
    return std::make_unique<Win32WritableKey>(key);
}

}  // namespace platform::win32
