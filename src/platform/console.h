// Standard output of a console command, and the pause between its polls.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class Console {
  public:
    virtual ~Console() = default;
    // Writes the text to standard output at once; "\n" ends a line.
    virtual void Write(const std::wstring& text) = 0;
    // The same to standard error.
    virtual void WriteError(const std::wstring& text) = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;  // Sleep
};

}  // namespace platform
