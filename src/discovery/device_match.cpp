#include "discovery/device_match.h"

#include <cwchar>

#include "discovery/catalogue.h"
#include "platform/ascii_case.h"

namespace {

// The prefix of a USB device-interface path: \\?\usb#
constexpr wchar_t kUsbPrefix[] = L"\\\\?\\usb#";
constexpr size_t kUsbPrefixLength = 8;

bool IdentifierMatches(const wchar_t* rest, const wchar_t* identifier) {
    return identifier[0] != L'\0' && EqualNoCase(rest, identifier, kUsbIdLength);
}

}  // namespace

bool MatchInterfacePath(const wchar_t* path, DeviceMatch& match, bool* modem) {
    if (path == nullptr || !EqualNoCase(path, kUsbPrefix, kUsbPrefixLength)) {
        return false;
    }
    const wchar_t* rest = path + kUsbPrefixLength;

    int32_t reference = kNoDevice;
    bool modemMode = false;
    for (size_t i = 0; i < kCatalogueSize && reference == kNoDevice; ++i) {
        const auto position = static_cast<int32_t>(i + 1);
        if (IdentifierMatches(rest, kCatalogue[i].ModemId)) {
            reference = ModemModeReference(position);
            modemMode = true;
        } else if (IdentifierMatches(rest, kCatalogue[i].DownloadId)) {
            reference = DownloadModeReference(position);
        }
    }
    if (reference == kNoDevice) {
        return false;
    }
    // The rest must fit the record with its terminator; a longer one is refused, not cut.
    const size_t length = wcsnlen(rest, kInterfacePathChars);
    if (length >= kInterfacePathChars) {
        return false;
    }

    if (modem != nullptr) {
        *modem = modemMode;
    }
    wmemcpy(match.InterfacePath, rest, length);
    match.InterfacePath[length] = L'\0';
    match.Reference = reference;
    return true;
}

bool GetDeviceInfo(int32_t reference, bool* loaded, int32_t* generation, std::wstring* name,
                   std::wstring* vendor) {
    // The reference comes from a record that other code writes: check its range before it
    // indexes the table (this also keeps INT32_MIN, which has no absolute value, out).
    if (reference == kNoDevice || reference < -static_cast<int32_t>(kCatalogueSize) ||
        reference > static_cast<int32_t>(kCatalogueSize)) {
        return false;
    }
    const CatalogueEntry& entry = kCatalogue[(reference > 0 ? reference : -reference) - 1];
    *loaded = reference > 0;
    *generation = entry.Generation;
    *name = entry.Name;
    *vendor = entry.Vendor;
    return true;
}
