#include "discovery/options_lines.h"

#include "discovery/utf16le.h"
#include "platform/platform.h"

bool OptionsLineReader::NextByte(uint8_t* byte) {
    if (position_ == length_) {
        if (failed_ || ended_) {
            return false;
        }
        uint32_t read = 0;
        if (file_.Read(buffer_, sizeof(buffer_), &read) != platform::error::kSuccess) {
            failed_ = true;
            return false;
        }
        if (read == 0) {
            ended_ = true;
            return false;
        }
        length_ = read > sizeof(buffer_) ? static_cast<uint32_t>(sizeof(buffer_)) : read;
        position_ = 0;
    }
    *byte = buffer_[position_++];
    return true;
}

bool OptionsLineReader::ReadAnsiLine(std::wstring* line) {
    char bytes[kLineChars];
    size_t count = 0;
    uint8_t byte = 0;
    while (count < kLineChars - 1 && NextByte(&byte)) {
        bytes[count++] = static_cast<char>(byte);
        if (byte == '\n') {
            break;
        }
    }
    if (failed_ || count == 0) {
        return false;
    }
    // The line as a C string ends at its first zero byte.
    size_t length = 0;
    while (length < count && bytes[length] != '\0') {
        ++length;
    }
    line->clear();
    if (length == 0) {
        return true;
    }
    // A widening that fails, or that would not fit the 260 characters, leaves the line empty.
    std::wstring wide;
    platform::TextFiles* files = platform::Get().textFiles;
    if (files != nullptr && files->WidenAnsi(bytes, length, &wide) == platform::error::kSuccess &&
        wide.size() < kLineChars) {
        *line = std::move(wide);
    }
    return true;
}

bool OptionsLineReader::ReadUtf16Line(std::wstring* line) {
    char16_t units[kLineChars];
    size_t count = 0;
    uint8_t pair[2] = {};
    while (count < kLineChars - 1 && NextByte(&pair[0]) && NextByte(&pair[1])) {
        units[count] = Utf16LeUnit(pair);
        if (units[count++] == u'\n') {
            break;
        }
    }
    if (failed_ || count == 0) {
        return false;
    }
    size_t length = 0;
    while (length < count && units[length] != 0) {
        ++length;
    }
    *line = WideFromUtf16(units, length);
    return true;
}
