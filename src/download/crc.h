// The frame check sequence of the download protocol: CRC-16/X-25 (the HDLC FCS), reflected
// polynomial 0x8408, initial value 0xFFFF, result complemented.
#pragma once

#include <cstddef>
#include <cstdint>

uint16_t Crc16(const uint8_t* bytes, size_t count);
