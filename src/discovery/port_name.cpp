#include "discovery/port_name.h"

#include <cstdint>
#include <cwchar>

#include "discovery/catalogue.h"
#include "discovery/utf16le.h"
#include "platform/platform.h"
#include "platform/registry.h"

namespace {

constexpr wchar_t kKeyPrefix[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\";
constexpr wchar_t kKeySuffix[] = L"\\Device Parameters";
constexpr wchar_t kPortNameValue[] = L"PortName";

// The key path of the device's parameters from its interface path: the identifier, its # and
// the instance identifier up to the next #, with every # turned into a backslash. False when
// the identifier is not followed by # or the key path does not fit its 520 characters.
bool DeviceParametersKey(const DeviceMatch& match, std::wstring* key) {
    std::wstring device(match.InterfacePath, wcsnlen(match.InterfacePath, kInterfacePathChars));
    if (device.size() <= kUsbIdLength || device[kUsbIdLength] != L'#') {
        return false;
    }
    const size_t end = device.find(L'#', kUsbIdLength + 1);
    if (end != std::wstring::npos) {
        device.resize(end);
    }
    for (wchar_t& c : device) {
        if (c == L'#') {
            c = L'\\';
        }
    }
    *key = kKeyPrefix + device + kKeySuffix;
    return key->size() < kKeyPathChars;
}

}  // namespace

bool GetQdlPortName(const DeviceMatch& match, std::wstring* port) {
    if (match.Reference >= 0) {
        return false;
    }
    std::wstring keyPath;
    if (!DeviceParametersKey(match, &keyPath)) {
        return false;
    }
    platform::Registry* registry = platform::Get().registry;
    if (registry == nullptr) {
        return false;
    }
    platform::ErrorCode error = platform::error::kSuccess;
    const std::unique_ptr<platform::RegistryKey> key =
        registry->OpenLocalMachineKey(keyPath, &error);
    if (key == nullptr) {
        return false;
    }

    // A cleared buffer of 260 wide characters; the value's type is not looked at.
    uint8_t buffer[kPortNameChars * 2] = {};
    uint32_t size = sizeof(buffer);
    if (key->QueryValue(kPortNameValue, buffer, &size) != platform::error::kSuccess) {
        return false;
    }
    char16_t units[kPortNameChars];
    size_t length = 0;
    for (length = 0; length < kPortNameChars; ++length) {
        units[length] = Utf16LeUnit(buffer + 2 * length);
        if (units[length] == 0) {
            break;
        }
    }
    // Empty, or 520 bytes with no terminator among them: no port name.
    if (length == 0 || length == kPortNameChars) {
        return false;
    }
    *port = WideFromUtf16(units, length);
    return true;
}
