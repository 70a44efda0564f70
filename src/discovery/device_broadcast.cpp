#include "discovery/device_broadcast.h"

#include <string>

#include "discovery/utf16le.h"

namespace {

uint32_t ReadU32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

bool IsGobiArrival(const void* header, DeviceMatch& match) {
    if (header == nullptr) {
        return false;
    }
    const auto* record = static_cast<const uint8_t*>(header);
    // The size comes first: a record too small for a device interface is not read further.
    const uint32_t size = ReadU32(record);
    if (size < kBroadcastInterfaceMinSize || ReadU32(record + 4) != kDeviceTypeInterface) {
        return false;
    }

    // The name's code units within the record, up to its terminator.
    const size_t available = (size - kBroadcastNameOffset) / 2;
    std::u16string units;
    bool terminated = false;
    for (size_t i = 0; i < available; ++i) {
        const char16_t unit = Utf16LeUnit(record + kBroadcastNameOffset + 2 * i);
        if (unit == 0) {
            terminated = true;
            break;
        }
        units.push_back(unit);
    }
    if (!terminated) {
        return false;
    }

    const std::wstring name = WideFromUtf16(units.data(), units.size());
    bool modem = false;
    return MatchInterfacePath(name.c_str(), match, &modem) && !modem;
}
