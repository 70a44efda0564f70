// Frames of the download protocol (no byte stuffing in either direction) and their trace.
#pragma once

#include <cstddef>
#include <cstdint>

class cSerialPort;

// Writes the hexadecimal trace of a frame to the log, 16 bytes a line, at most 256 bytes.
// prefix is "Send: " or "Rcvd: ".
void TraceFrame(const wchar_t* prefix, const uint8_t* bytes, size_t count);

// 0x7E, payload, FCS low, FCS high, 0x7E; traced, then sent. False at once on a closed port.
bool SendFramedMessage(cSerialPort& port, const uint8_t* payload, size_t n);
// payload, FCS low, FCS high; traced, then sent. False at once on a closed port.
bool SendUnframedMessage(cSerialPort& port, const uint8_t* payload, size_t n);
