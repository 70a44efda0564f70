#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <thread>

#include "log/log.h"
#include "log/start_keys.h"

namespace {

bool StartsWithTimestamp(const std::wstring& line) {
    static const wchar_t kPattern[] = L"dd-dd-dddd dd:dd:dd:dddd ";
    if (line.size() < 25) {
        return false;
    }
    for (size_t i = 0; i < 25; ++i) {
        bool digit = std::iswdigit(static_cast<wint_t>(line[i])) != 0;
        if (kPattern[i] == L'd' ? !digit : line[i] != kPattern[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::wstring DecodeUtf16Le(const std::vector<uint8_t>& bytes, size_t from) {
    std::wstring text;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) {
        uint32_t unit = bytes[i] | (bytes[i + 1] << 8);
        if (sizeof(wchar_t) > 2 && unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
            uint32_t low = bytes[i + 2] | (bytes[i + 3] << 8);
            unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

std::vector<std::wstring> LogLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        if (!line.empty()) {
            lines.push_back(StartsWithTimestamp(line) ? line.substr(25) : line);
        }
        start = end + 2;
    }
    return lines;
}

LogCapture::LogCapture() {
    EXPECT_FALSE(LogIsOpen()) << "a log is already open";
    platform::Platform p = platform::Get();
    p.files = &files_;
    p.clock = &clock_;
    use_.emplace(p);
    files_.AddDirectory(kFolder);
    SetLogEnabled(true);
    EXPECT_EQ(LogOpen(L"capture", kFolder), 0);
}

LogCapture::~LogCapture() {
    LogClose(platform::kInfinite);
    SetLogEnabled(false);
}

std::vector<std::wstring> LogCapture::Lines() {
    while (LogFlush(false)) {
        std::this_thread::yield();  // until nothing is pending and no other flush runs
    }
    return LogLines(DecodeUtf16Le(files_.Contents(kPath), 2));
}
