#include "platform/win32/registry_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

class Win32RegistryKey : public RegistryKey {
  public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}
    ~Win32RegistryKey() override { RegCloseKey(key_); }

    ErrorCode QueryValue(const std::wstring& name, uint8_t* buffer, uint32_t* size) override {
        DWORD bytes = *size;
        const LSTATUS status =
            RegQueryValueExW(key_, name.c_str(), nullptr, nullptr, buffer, &bytes);
        *size = bytes;
        return static_cast<ErrorCode>(status);
    }

  private:
    HKEY key_;
};

}  // namespace

std::unique_ptr<RegistryKey> Win32Registry::OpenLocalMachineKey(const std::wstring& path,
                                                                ErrorCode* error) {
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyW(HKEY_LOCAL_MACHINE, path.c_str(), &key);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<ErrorCode>(status);
        return nullptr;
    }
    return std::make_unique<Win32RegistryKey>(key);
}

}  // namespace platform::win32
