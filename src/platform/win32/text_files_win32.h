// Files read as text over CreateFileW and ReadFile, and ANSI widening (MultiByteToWideChar).
#pragma once

#include "platform/text_files.h"

namespace platform::win32 {

class Win32TextFiles : public TextFiles {
  public:
    std::unique_ptr<TextFile> OpenForReading(const std::wstring& path, ErrorCode* error) override;
    ErrorCode WidenAnsi(const char* bytes, size_t count, std::wstring* text) override;
};

}  // namespace platform::win32
