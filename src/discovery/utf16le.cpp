#include "discovery/utf16le.h"

std::wstring WideFromUtf16(const char16_t* units, size_t count) {
    std::wstring text;
    text.reserve(count);
    if constexpr (sizeof(wchar_t) == 2) {
        for (size_t i = 0; i < count; ++i) {
            text.push_back(static_cast<wchar_t>(units[i]));
        }
    } else {
        constexpr char32_t kReplacement = 0xFFFD;
        for (size_t i = 0; i < count; ++i) {
            const char32_t unit = units[i];
            if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
                units[i + 1] < 0xE000) {
                const char32_t low = units[++i];
                text.push_back(
                    static_cast<wchar_t>(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00)));
            } else if (unit >= 0xD800 && unit < 0xE000) {
                text.push_back(static_cast<wchar_t>(kReplacement));
            } else {
                text.push_back(static_cast<wchar_t>(unit));
            }
        }
    }
    return text;
}
