// The COM port name of a card in download mode, from its USB device's registry key.
#pragma once

#include <cstddef>
#include <string>

#include "discovery/device_match.h"

// Characters of the key path buffer and of a port name, terminators included.
constexpr size_t kKeyPathChars = 520;
constexpr size_t kPortNameChars = 260;

// Reads the value "PortName" of the key
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Enum\USB\<identifier>\<instance>\Device Parameters
// for a download-mode match. False for a reference that is not negative (the registry is not
// touched), for a path whose identifier is not followed by #, for a key path longer than 519
// characters, for a missing key or value, and for a value that is empty or has no terminator
// within its 260 characters. *port then holds at most 259 characters.
bool GetQdlPortName(const DeviceMatch& match, std::wstring* port);
