#include "platform/win32/devices_win32.h"

#include "platform/win32/windows_api.h"

#include <setupapi.h>

#include <cstddef>
#include <cwchar>

namespace platform::win32 {

namespace {

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}
const GUID kComPortInterfaceClass = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The detail buffer: the fixed part of SP_DEVICE_INTERFACE_DETAIL_DATA_W, whose size is also the
// cbSize that SetupAPI expects (6 bytes in a 32-bit program, 8 in a 64-bit one), and room for a
// device path of 4,096 characters.
constexpr DWORD kDetailFixedSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
constexpr DWORD kDetailBufferSize = kDetailFixedSize + 4096 * sizeof(wchar_t);
#if !defined(_WIN64)
static_assert(kDetailFixedSize == 6, "the 32-bit record's size, as 32-bit SetupAPI checks it");
#endif

class Win32InterfaceSet : public DeviceInterfaceSet {
  public:
    explicit Win32InterfaceSet(HDEVINFO set) : set_(set) {}
    ~Win32InterfaceSet() override { SetupDiDestroyDeviceInfoList(set_); }

    ErrorCode Enumerate(uint32_t index, uint32_t* flags) override {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof(data);
        if (!SetupDiEnumDeviceInterfaces(set_, nullptr, &kComPortInterfaceClass, index, &data)) {
            return GetLastError();
        }
        current_ = data;
        have_current_ = true;
        *flags = data.Flags;
        return 0;
    }

    ErrorCode DevicePath(std::wstring* path) override {
        if (!have_current_) {
            return ERROR_INVALID_PARAMETER;
        }
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE buffer[kDetailBufferSize] = {};
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer);
        detail->cbSize = kDetailFixedSize;
        if (!SetupDiGetDeviceInterfaceDetailW(set_, &current_, detail, kDetailBufferSize, nullptr,
                                              nullptr)) {
            return GetLastError();
        }
        // A path that fills the buffer has no terminator: it is read up to the buffer's end.
        constexpr size_t kPathChars =
            (kDetailBufferSize - offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath)) /
            sizeof(wchar_t);
        path->assign(detail->DevicePath, wcsnlen(detail->DevicePath, kPathChars));
        return 0;
    }

  private:
    HDEVINFO set_;
    SP_DEVICE_INTERFACE_DATA current_ = {};
    bool have_current_ = false;
};

}  // namespace

std::unique_ptr<DeviceInterfaceSet> Win32DeviceInterfaces::OpenPresentComPorts(ErrorCode* error) {
    HDEVINFO set = SetupDiGetClassDevsW(&kComPortInterfaceClass, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32InterfaceSet>(set);
}

}  // namespace platform::win32
