// Windows-1252, the ANSI code page that the host build and the fakes use to widen 8-bit text.
// Every byte maps to one character; the five bytes that the code page leaves undefined (81, 8D,
// 8F, 90, 9D) map to the control character of the same value, as MultiByteToWideChar does.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

inline wchar_t Windows1252ToWide(unsigned char byte) {
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
    };
    if (byte >= 0x80 && byte < 0xA0) {
        return static_cast<wchar_t>(kHigh[byte - 0x80]);
    }
    return static_cast<wchar_t>(byte);
}

inline std::wstring Windows1252ToWide(const char* bytes, size_t count) {
    std::wstring text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        text.push_back(Windows1252ToWide(static_cast<unsigned char>(bytes[i])));
    }
    return text;
}

}  // namespace platform
