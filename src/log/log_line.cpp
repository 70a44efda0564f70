// The log's line format and timestamp: writers format a line on their own stack (or heap, for
// long lines), put the timestamp "dd-mm-yyyy hh:mm:ss:mmmm " and "ERROR: " in front of it and
// CR LF behind it, and hand it to the buffer; the echo gets the same text without them.
#include "log/log_line.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

#include "log/log.h"
#include "log/log_buffer.h"
#include "log/log_state.h"
#include "platform/clock.h"
#include "platform/sync.h"

namespace {

using log_detail::AppendLine;
using log_detail::LogState;

constexpr size_t kStackLineSize = 5000;  // characters of a line formatted on the stack
constexpr size_t kMaxLineSize = 95000;   // characters of the longest line, terminator included
constexpr size_t kTimestampLength = 25;  // "dd-mm-yyyy hh:mm:ss:mmmm "
constexpr wchar_t kErrorPrefix[] = L"ERROR: ";
constexpr size_t kErrorPrefixLength = 7;

void PutDigits(wchar_t* out, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    }
}

// "%02d-%02d-%04d %02d:%02d:%02d:%04d ": day, month, year, hour, minute, second, milliseconds.
void PutTimestamp(wchar_t* out, const platform::LocalTime& t) {
    PutDigits(out, t.day, 2);
    out[2] = L'-';
    PutDigits(out + 3, t.month, 2);
    out[5] = L'-';
    PutDigits(out + 6, t.year, 4);
    out[10] = L' ';
    PutDigits(out + 11, t.hour, 2);
    out[13] = L':';
    PutDigits(out + 14, t.minute, 2);
    out[16] = L':';
    PutDigits(out + 17, t.second, 2);
    out[19] = L':';
    PutDigits(out + 20, t.milliseconds, 4);
    out[24] = L' ';
}

// The number of characters the format gives with its arguments, or -1 when it cannot be
// formatted.
int CountFormatted(const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
#ifdef _WIN32
    int count = _vscwprintf(format, copy);
#else
    static FILE* sink = std::fopen("/dev/null", "w");
    int count = sink != nullptr ? std::vfwprintf(sink, format, copy) : -1;
#endif
    va_end(copy);
    return count;
}

// Formats into target, of size characters; the length, or -1 when it does not fit or fails.
int FormatInto(wchar_t* target, size_t size, const wchar_t* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vswprintf(target, size, format, copy);
    va_end(copy);
    return length >= 0 && static_cast<size_t>(length) < size ? length : -1;
}

// A plain line of the log's own: timestamp, text, CR LF.
void WriteSelfReport(LogState& log, const wchar_t* text) {
    wchar_t line[128];
    PutTimestamp(line, log.clock->Now());
    size_t length = kTimestampLength;
    for (const wchar_t* c = text; *c != L'\0' && length < 125; ++c) {
        line[length++] = *c;
    }
    line[length++] = L'\r';
    line[length++] = L'\n';
    AppendLine(log, line, length);
    log.data_event->Set();
}

}  // namespace

namespace log_detail {

void WriteLine(LogState& log, bool isError, const wchar_t* format, va_list args) {
    size_t leading = 0;
    while (format[leading] == L'\n') {
        ++leading;
    }
    const wchar_t* message = format + leading;
    // The prefix: a CR LF for each leading line feed, the timestamp, "ERROR: ".
    size_t prefix = 2 * leading + kTimestampLength + (isError ? kErrorPrefixLength : 0);

    wchar_t stackLine[kStackLineSize];
    std::unique_ptr<wchar_t[]> heapLine;
    wchar_t* line = stackLine;
    int length = -1;
    if (prefix + 3 <= kStackLineSize) {
        length = FormatInto(stackLine + prefix, kStackLineSize - prefix - 2, message, args);
    }
    if (length < 0) {
        int counted = CountFormatted(message, args);
        if (counted < 0) {
            WriteSelfReport(log, L"WriteV: vsctprintf returned error...");
            return;
        }
        size_t needed = prefix + static_cast<size_t>(counted) + 3;
        if (needed > kMaxLineSize) {
            WriteSelfReport(log, L"WriteV: too long message...");
            return;
        }
        if (needed > kStackLineSize) {
            heapLine.reset(new (std::nothrow) wchar_t[needed]);
            if (!heapLine) {
                WriteSelfReport(log, L"WriteV: no memory for a long message...");
                return;
            }
            line = heapLine.get();
        }
        length = FormatInto(line + prefix, needed - prefix - 2, message, args);
        if (length < 0) {
            WriteSelfReport(log, L"WriteV: vstprintf_s returned error");
            return;
        }
    }

    size_t at = 0;
    for (size_t i = 0; i < leading; ++i) {
        line[at++] = L'\r';
        line[at++] = L'\n';
    }
    PutTimestamp(line + at, log.clock->Now());
    at += kTimestampLength;
    if (isError) {
        std::wmemcpy(line + at, kErrorPrefix, kErrorPrefixLength);
    }
    at = prefix + static_cast<size_t>(length);
    line[at++] = L'\r';
    line[at++] = L'\n';
    AppendLine(log, line, at);
    log.data_event->Set();
}

// Hands the text of a line to the echo: formatted as the log formats it, without timestamp and
// line end; where the log writes one of its own reports instead, the echo gets that report.
void EchoLine(LogEcho echo, bool isError, const wchar_t* format, va_list args) {
    wchar_t stackText[kStackLineSize];
    if (FormatInto(stackText, kStackLineSize, format, args) >= 0) {
        echo(isError, stackText);
        return;
    }
    const int counted = CountFormatted(format, args);
    if (counted < 0) {
        echo(false, L"WriteV: vsctprintf returned error...");
        return;
    }
    const size_t needed = static_cast<size_t>(counted) + 1;
    if (needed > kMaxLineSize) {
        echo(false, L"WriteV: too long message...");
        return;
    }
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[needed]);
    if (!text || FormatInto(text.get(), needed, format, args) < 0) {
        echo(false, L"WriteV: vstprintf_s returned error");
        return;
    }
    echo(isError, text.get());
}

}  // namespace log_detail
