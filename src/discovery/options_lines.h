// Lines of an options file, read the way the C runtime's fgets and fgetws read a file opened in
// binary mode into a buffer of 260 characters: at most 259 characters, through the next LF
// (which stays in the line). A longer line comes in pieces of 259, each piece a line of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text_files.h"

// Characters of a line buffer, terminator included.
constexpr size_t kLineChars = 260;

class OptionsLineReader {
  public:
    explicit OptionsLineReader(platform::TextFile& file) : file_(file) {}

    // fgets: 8-bit text widened in the ANSI code page. False at the end of the file or on a
    // read error, when nothing is left to give; a read error ends the reading for good.
    bool ReadAnsiLine(std::wstring* line);
    // fgetws: UTF-16LE code units; a last odd byte is no character.
    bool ReadUtf16Line(std::wstring* line);

  private:
    // The next byte, false at the end or after a read error.
    bool NextByte(uint8_t* byte);

    platform::TextFile& file_;
    uint8_t buffer_[512] = {};
    uint32_t length_ = 0;
    uint32_t position_ = 0;
    bool failed_ = false;  // read error: the line in progress is lost, nothing more is read
    bool ended_ = false;
};
