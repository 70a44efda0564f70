#include <cwchar>
#include <string>

#include "log/log.h"
#include "platform/files.h"
#include "platform/platform.h"

const wchar_t* ErrorText(uint32_t code) {
    // Each thread has its own buffer, so that two threads that render codes at the same time
    // never write into each other's text.
    constexpr size_t kErrorTextSize = 1024;
    thread_local wchar_t text[kErrorTextSize];
    text[0] = L'\0';

    std::wstring message;
    if (!platform::Get().text->ErrorMessage(code, &message)) {
        return text;
    }
    // System texts end in CR LF; the text is shown without it.
    message.resize(message.size() >= 2 ? message.size() - 2 : 0);
    wchar_t suffix[24];
    std::swprintf(suffix, sizeof suffix / sizeof suffix[0], L" (0x%x)", code);
    std::wstring full = message + suffix;
    size_t length = full.size() < kErrorTextSize - 1 ? full.size() : kErrorTextSize - 1;
    full.copy(text, length);
    text[length] = L'\0';
    return text;
}
