// Files read as text (the options files): opened for reading with no sharing restriction, read
// as raw bytes; and the widening of 8-bit text in the system's ANSI code page.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// A file open for reading, closed when the object goes.
class TextFile {
  public:
    virtual ~TextFile() = default;
    // Reads at most size bytes from the current position; *read gets the count (0 at the end).
    virtual ErrorCode Read(void* buffer, uint32_t size, uint32_t* read) = 0;
    // Moves the position to offset bytes from the start.
    virtual ErrorCode Seek(uint64_t offset) = 0;
};

class TextFiles {
  public:
    virtual ~TextFiles() = default;
    // Opens an existing file for reading; other readers and writers stay allowed. Null with
    // *error set on failure.
    virtual std::unique_ptr<TextFile> OpenForReading(const std::wstring& path,
                                                     ErrorCode* error) = 0;
    // MultiByteToWideChar(CP_ACP, 0): widens count bytes (no terminator among them) into *text.
    // On the host the ANSI code page is Windows-1252.
    virtual ErrorCode WidenAnsi(const char* bytes, size_t count, std::wstring* text) = 0;
};

}  // namespace platform
