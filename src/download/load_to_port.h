// The download sequence with one card in download mode: open its QDLoader port, the initial
// message (with the Gobi 2000 firmware preference), AMSS, APPS, UQCN, the final message.
#pragma once

#include <cstdint>
#include <string>

#include "download/firmware_file_set.h"

class cSerialPort;

// Loads the firmware into the card on portName (a COM port name such as COM7). Stops at the
// first step that fails; the port is closed and the current port cleared on every path. A
// firmware preference may replace the three paths of files.
bool LoadToPort(const std::wstring& portName, FirmwareFileSet& files);
// The same, for a caller that checked for a stop before: a cancel after `ticket` (CancelTicket)
// cuts this download short even when it came before the port was current.
bool LoadToPort(const std::wstring& portName, FirmwareFileSet& files, uint32_t ticket);

// The initial message and its answer; on a Gobi 2000 card also the firmware preference.
bool SendInitialMessage(cSerialPort& port, FirmwareFileSet& files);

// Replaces the three paths with the images of preference p under the maker's image folder,
// only when all three exist. True when it replaced them.
bool ApplyFirmwarePreference(int32_t p, FirmwareFileSet& files);

// The final message; nothing is read back.
bool SendFinalMessage(cSerialPort& port);
