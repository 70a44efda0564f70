// Letter case of ASCII text, the same in both builds: the C runtime's C locale folds and
// capitalises only the letters a to z (_wcsnicmp, _wcsupr), and so does this code everywhere.
#pragma once

#include <cstddef>
#include <string>

inline wchar_t AsciiUpper(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

inline wchar_t AsciiLower(wchar_t c) {
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// _wcsnicmp(a, b, n) == 0: the first n characters are equal ignoring ASCII case, where both
// strings end at their terminator (a terminator only equals a terminator).
inline bool EqualNoCase(const wchar_t* a, const wchar_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
        if (a[i] == L'\0') {
            return true;
        }
    }
    return true;
}

// _wcsupr: a to z become A to Z, every other character stays.
inline void UpperCaseAscii(std::wstring& text) {
    for (wchar_t& c : text) {
        c = AsciiUpper(c);
    }
}

// A copy of the text with A to Z made a to z (to compare without regard to ASCII case).
inline std::wstring LowerCaseAscii(std::wstring text) {
    for (wchar_t& c : text) {
        c = AsciiLower(c);
    }
    return text;
}
