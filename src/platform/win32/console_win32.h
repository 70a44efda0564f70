// Standard output and error: WriteConsoleW on a console, UTF-8 with CR LF line ends otherwise.
#pragma once

#include "platform/console.h"

namespace platform::win32 {

class Win32Console : public Console {
  public:
    void Write(const std::wstring& text) override;
    void WriteError(const std::wstring& text) override;
    void Sleep(uint32_t milliseconds) override;
};

}  // namespace platform::win32
