// Files read as text on the host, at the host paths that Windows paths map to (host_path.h).
// The ANSI code page of the host build is Windows-1252 (windows_1252.h).
#pragma once

#include "platform/text_files.h"

namespace platform::posix {

class PosixTextFiles : public TextFiles {
  public:
    std::unique_ptr<TextFile> OpenForReading(const std::wstring& path, ErrorCode* error) override;
    ErrorCode WidenAnsi(const char* bytes, size_t count, std::wstring* text) override;
};

}  // namespace platform::posix
