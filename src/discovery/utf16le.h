// Text that enters the process as UTF-16 little-endian code units (device broadcasts, Gobi 2000
// options files), decoded the same way in both builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The code unit stored little-endian at bytes[0], bytes[1].
inline char16_t Utf16LeUnit(const uint8_t* bytes) {
    return static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
}

// The wide string of count UTF-16 code units. With a 16-bit wchar_t the units are taken as
// they are; with a 32-bit wchar_t a surrogate pair becomes one character and a surrogate
// without its partner becomes U+FFFD.
std::wstring WideFromUtf16(const char16_t* units, size_t count);
