#include "platform/win32/console_win32.h"

#include "platform/utf8.h"
#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

void WriteTo(DWORD handle, const std::wstring& text) {
    HANDLE out = GetStdHandle(handle);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        // A console shows every character whatever its code page.
        WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    // A pipe or a file gets the same bytes on every system: UTF-8, each "\n" as CR LF.
    std::wstring lines;
    lines.reserve(text.size() + 8);
    for (wchar_t c : text) {
        if (c == L'\n') {
            lines += L'\r';
        }
        lines += c;
    }
    const std::string bytes = ToUtf8(lines);
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

void Win32Console::Write(const std::wstring& text) {
    WriteTo(STD_OUTPUT_HANDLE, text);
}

void Win32Console::WriteError(const std::wstring& text) {
    WriteTo(STD_ERROR_HANDLE, text);
}

void Win32Console::Sleep(uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

}  // namespace platform::win32
