// Device-interface arrivals: the device-broadcast record that comes with a device event.
#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/device_match.h"

// The layout of the record, little-endian: DEV_BROADCAST_HDR's dbch_size (u32, the size of the
// whole record in bytes), dbch_devicetype (u32) and dbch_reserved (u32); for a device interface
// (DEV_BROADCAST_DEVICEINTERFACE_W) then dbcc_classguid (16 bytes) and dbcc_name, UTF-16LE code
// units up to a terminating 0, from byte 28 to the end of the record.
constexpr uint32_t kDeviceTypeInterface = 5;  // DBT_DEVTYP_DEVICEINTERFACE
constexpr size_t kBroadcastNameOffset = 28;
constexpr uint32_t kBroadcastInterfaceMinSize = 32;  // sizeof(DEV_BROADCAST_DEVICEINTERFACE_W)

// True when the record announces a device interface whose name matches the catalogue in
// download mode; any catalogue match (a modem-mode one too) is written into the record, as
// MatchInterfacePath does. Nothing beyond the record's dbch_size bytes is read, and a name
// without its terminator inside the record never matches. header may be null (no data).
bool IsGobiArrival(const void* header, DeviceMatch& match);
