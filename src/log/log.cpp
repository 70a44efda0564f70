// The log: writers format a line on their own stack (or heap, for long lines) and copy it into
// the shared buffer under the buffer lock; the writer thread, or a writer that finds the buffer
// full, moves the buffer to the file under the flush lock.
//
// Lifetime: the log's state is created by LogOpen and shared between the close and the writer
// thread, so a close whose wait for the thread runs out never releases what the thread still
// uses. Every write and flush from outside counts itself in g_users for as long as it touches
// the state; the close switches the state to closing first and then waits until no such call
// is left, so no call ever touches a buffer or lock that is gone.
#include "log/log.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>
#include <string>

#include "log/log_state.h"
#include "platform/clock.h"
#include "platform/critical_section.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace log_detail {
std::atomic<int32_t> g_enabled{0};
}  // namespace log_detail

namespace {

using log_detail::g_enabled;

constexpr size_t kNameSize = 260;          // name and directory, terminator included
constexpr size_t kBufferSize = 200010;     // bytes allocated for the buffer
constexpr uint32_t kBufferLimit = 200000;  // the buffer is never filled to this many bytes
constexpr size_t kStackLineSize = 5000;    // characters of a line formatted on the stack
constexpr size_t kMaxLineSize = 95000;     // characters of the longest line, terminator included
constexpr uint32_t kLockSpinCount = 0x80000400;
constexpr uint32_t kWriterBatchMs = 2000;
constexpr uint32_t kRoomWaitMs = 2000;   // longest wait of a writer for room in the buffer
constexpr size_t kTimestampLength = 25;  // "dd-mm-yyyy hh:mm:ss:mmmm "
constexpr wchar_t kErrorPrefix[] = L"ERROR: ";
constexpr size_t kErrorPrefixLength = 7;

enum LogPhase : int32_t { kClosed, kOpening, kOpen, kClosing };

// Who makes the last flush after a close: the close, once the writer thread has ended, or the
// writer thread, when the close stopped waiting for it.
enum Handoff : int32_t { kRunning, kThreadEnded, kCloseGaveUp };

struct LogState {
    platform::Sync* sync = nullptr;
    platform::Clock* clock = nullptr;
    wchar_t name[kNameSize] = {};
    wchar_t directory[kNameSize] = {};
    std::wstring path;
    // Released in the reverse order: writer thread, events, file, buffer, locks.
    std::unique_ptr<platform::Lock> flush_lock;
    std::unique_ptr<platform::Lock> buffer_lock;
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t fill = 0;
    std::unique_ptr<platform::AppendFile> file;
    std::unique_ptr<platform::Event> stop_event;
    std::unique_ptr<platform::Event> data_event;
    // Manual reset: set by every flush that made room, for a writer that waits for room.
    std::unique_ptr<platform::Event> room_event;
    std::unique_ptr<platform::Thread> writer;
    std::atomic<int32_t> handoff{kRunning};
};

std::atomic<int32_t> g_phase{kClosed};
std::atomic<LogEcho> g_echo{nullptr};
std::atomic<int32_t> g_users{0};
LogState* g_log = nullptr;          // valid for a counted user while the phase is open
std::shared_ptr<LogState> g_owner;  // the open log, released by the close

// Counts a call that may touch the log's state; gives the state only while the log is open.
class LogUse {
  public:
    LogUse() {
        g_users.fetch_add(1);
        if (g_phase.load() == kOpen) {
            log_ = g_log;
        }
    }
    ~LogUse() { g_users.fetch_sub(1); }
    LogUse(const LogUse&) = delete;
    LogUse& operator=(const LogUse&) = delete;
    LogState* get() const { return log_; }

  private:
    LogState* log_ = nullptr;
};

// Copies a bounded wide string into a fixed buffer, at most size - 1 characters.
void CopyBounded(wchar_t* target, size_t size, const wchar_t* source) {
    size_t length = source != nullptr ? std::wcslen(source) : 0;
    length = std::min(length, size - 1);
    std::wmemcpy(target, source, length);
    target[length] = L'\0';
}

// The UTF-16 code units of a line: one per character where wchar_t is UTF-16, and two for a
// character beyond the basic plane where it is UTF-32.
size_t Utf16Units(const wchar_t* line, size_t length) {
#if WCHAR_MAX > 0xFFFF
    size_t units = length;
    for (size_t i = 0; i < length; ++i) {
        units += static_cast<uint32_t>(line[i]) > 0xFFFF ? 1 : 0;
    }
    return units;
#else
    static_cast<void>(line);
    return length;
#endif
}

// Writes the first maxBytes bytes of the line's UTF-16LE encoding to out.
void EncodeUtf16Le(const wchar_t* line, size_t length, uint8_t* out, size_t maxBytes) {
    size_t put = 0;
    auto unit = [&](uint32_t value) {
        if (put + 2 <= maxBytes) {
            out[put] = static_cast<uint8_t>(value & 0xFF);
            out[put + 1] = static_cast<uint8_t>(value >> 8);
            put += 2;
        }
    };
    for (size_t i = 0; i < length && put < maxBytes; ++i) {
        auto c = static_cast<uint32_t>(line[i]);
        if (sizeof(wchar_t) > 2 && c > 0xFFFF) {
            c -= 0x10000;
            unit(0xD800 | (c >> 10));
            unit(0xDC00 | (c & 0x3FF));
        } else {
            unit(c & 0xFFFF);
        }
    }
}

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

// Moves the pending bytes to the file. When another flush is running, does nothing, sets *busy
// (if given) and returns true: that flush does the work.
bool FlushState(LogState& log, bool toDisk, bool* busy = nullptr) {
    if (!log.flush_lock->TryEnter()) {
        if (busy != nullptr) {
            *busy = true;
        }
        return true;
    }
    uint32_t pending;
    {
        platform::LockGuard guard(*log.buffer_lock);
        pending = log.fill;
    }
    if (pending > 0) {
        // Without the buffer lock: writers append only behind the pending bytes, and only a
        // flush, one at a time, removes bytes. A failed write loses its bytes.
        uint32_t written = 0;
        log.file->Write(log.buffer.get(), pending, &written);
        platform::LockGuard guard(*log.buffer_lock);
        std::memmove(log.buffer.get(), log.buffer.get() + pending, log.fill - pending);
        log.fill -= pending;
    }
    if (toDisk) {
        log.file->FlushToDisk();
    }
    log.flush_lock->Leave();
    if (pending > 0) {
        log.room_event->Set();
    }
    return pending > 0;
}

// Copies a finished line into the buffer. A line that does not fit makes this thread flush and
// try again: other writers may fill the room a flush made before this one gets the lock back,
// and the line is not cut for that. While another thread's flush is still writing, this one
// waits for that flush to make room (so that a writer thread of lower priority gets on), at most
// kRoomWaitMs: a flush that takes longer (a file that does not take its bytes) gets the line
// cut to the room left, so that no writer is held up by a stalled file. A line that could not
// fit even an emptied buffer (characters beyond the basic plane where wchar_t is UTF-32) is cut
// to the buffer's size.
void AppendLine(LogState& log, const wchar_t* line, size_t length) {
    size_t bytes = Utf16Units(line, length) * 2;
    size_t kept = std::min(bytes, static_cast<size_t>(kBufferLimit - 2));
    bool cut = false;
    for (;;) {
        {
            platform::LockGuard guard(*log.buffer_lock);
            if (cut) {
                // The room left: the buffer never fills to kBufferLimit, and a line keeps whole
                // code units.
                kept = std::min(kept, static_cast<size_t>(kBufferLimit - 1 - log.fill)) &
                       ~static_cast<size_t>(1);
            }
            if (log.fill + kept < kBufferLimit || kept == 0) {
                EncodeUtf16Le(line, length, log.buffer.get() + log.fill, kept);
                log.fill += static_cast<uint32_t>(kept);
                return;
            }
        }
        // Cleared before the flush, so that a flush ending from now on wakes the wait below.
        log.room_event->Reset();
        bool busy = false;
        FlushState(log, false, &busy);
        if (busy) {
            platform::Event* room[] = {log.room_event.get()};
            const platform::WaitResult woke = log.sync->WaitAny(room, 1, kRoomWaitMs);
            cut = woke.status != platform::WaitStatus::kSignaled;
        }
    }
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

// Moves the buffer to the file at most every two seconds while lines keep coming, and at once
// for the first line after a flush that found nothing.
void RunWriter(const std::shared_ptr<LogState>& log) {
    platform::Event* stopOnly[] = {log->stop_event.get()};
    platform::Event* stopOrData[] = {log->stop_event.get(), log->data_event.get()};
    platform::WaitResult woke = log->sync->WaitAny(stopOnly, 1, kWriterBatchMs);
    while (!(woke.status == platform::WaitStatus::kSignaled && woke.index == 0)) {
        if (FlushState(*log, false)) {
            woke = log->sync->WaitAny(stopOnly, 1, kWriterBatchMs);
        } else {
            woke = log->sync->WaitAny(stopOrData, 2, platform::kInfinite);
        }
    }
    if (log->handoff.exchange(kThreadEnded) == kCloseGaveUp) {
        FlushState(*log, true);
    }
}

int32_t OpenState(const wchar_t* name, const wchar_t* directory,
                  const std::shared_ptr<LogState>& log) {
    const platform::Platform& os = platform::Get();
    log->sync = os.sync;
    log->clock = os.clock;
    CopyBounded(log->name, kNameSize, name);
    CopyBounded(log->directory, kNameSize, directory);

    platform::ErrorCode error = 0;
    log->flush_lock = os.sync->CreateLock(kLockSpinCount, &error);
    if (!log->flush_lock) {
        return kLogOutOfMemory;
    }
    log->buffer_lock = os.sync->CreateLock(kLockSpinCount, &error);
    if (!log->buffer_lock) {
        return kLogOutOfMemory;
    }
    log->buffer.reset(new (std::nothrow) uint8_t[kBufferSize]);
    if (!log->buffer) {
        return kLogOutOfMemory;
    }
    log->fill = 0;

    // The name and ".log" must fit the name's buffer; a longer name is refused, not cut.
    size_t nameLength = std::wcslen(log->name);
    if (nameLength + 4 > kNameSize - 1) {
        return kLogFail;
    }
    std::wmemcpy(log->name + nameLength, L".log", 5);
    if (!os.files->PathCombine(log->directory, log->name, &log->path)) {
        return kLogFail;
    }

    log->file = os.files->OpenForAppend(log->path, &error);
    if (!log->file) {
        if (os.files->CreateDirectory(log->directory) != 0) {
            return kLogFail;
        }
        log->file = os.files->OpenForAppend(log->path, &error);
        if (!log->file) {
            return kLogFail;
        }
    }
    uint64_t size = 0;
    if (log->file->GetSize(&size) != 0) {
        return kLogFail;
    }
    static const uint8_t kByteOrderMark[] = {0xFF, 0xFE};
    static const uint8_t kSeparator[] = {'\r', 0, '\n', 0, '\r', 0, '\n', 0};
    if (size == 0) {
        std::memcpy(log->buffer.get(), kByteOrderMark, sizeof kByteOrderMark);
        log->fill = sizeof kByteOrderMark;
    }
    std::memcpy(log->buffer.get() + log->fill, kSeparator, sizeof kSeparator);
    log->fill += sizeof kSeparator;

    log->stop_event = os.sync->CreateEvent(true, false, &error);
    if (!log->stop_event) {
        return kLogEventFailed;
    }
    log->data_event = os.sync->CreateEvent(false, false, &error);
    if (!log->data_event) {
        return kLogEventFailed;
    }
    log->room_event = os.sync->CreateEvent(true, false, &error);
    if (!log->room_event) {
        return kLogEventFailed;
    }
    log->writer = os.sync->StartThread([log] { RunWriter(log); }, &error);
    if (!log->writer) {
        return kLogThreadFailed;
    }
    log->writer->SetPriority(platform::ThreadPriority::kLowest);
    return kLogOk;
}

}  // namespace

int32_t LogOpen(const wchar_t* name, const wchar_t* directory) {
    if (g_enabled.load() == 0) {
        return kLogOk;
    }
    int32_t expected = kClosed;
    if (!g_phase.compare_exchange_strong(expected, kOpening)) {
        return kLogOk;  // a log is open or being opened
    }
    auto log = std::make_shared<LogState>();
    int32_t result = OpenState(name, directory, log);
    if (result != kLogOk) {
        log.reset();  // releases what the open acquired, in the reverse order
        g_enabled.store(0);
        g_phase.store(kClosed);
        return result;
    }
    g_owner = log;
    g_log = log.get();
    g_phase.store(kOpen);
    return kLogOk;
}

bool LogIsOpen() {
    int32_t phase = g_phase.load();
    return phase == kOpening || phase == kOpen;
}

void SetLogEcho(LogEcho echo) {
    g_echo.store(echo);
}

void WriteV(bool isError, const wchar_t* format, va_list args) {
    if (LogEcho echo = g_echo.load(std::memory_order_relaxed);
        echo != nullptr && format != nullptr) {
        EchoLine(echo, isError, format, args);
    }
    if (g_enabled.load(std::memory_order_relaxed) == 0 ||
        g_phase.load(std::memory_order_relaxed) != kOpen || format == nullptr) {
        return;
    }
    LogUse use;
    if (use.get() != nullptr) {
        WriteLine(*use.get(), isError, format, args);
    }
}

void LogWriteUnchecked(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(false, format, args);
    va_end(args);
}

void LogWriteErrorUnchecked(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(true, format, args);
    va_end(args);
}

bool LogFlush(bool toDisk) {
    if (g_enabled.load() == 0 || g_phase.load() != kOpen) {
        return false;
    }
    LogUse use;
    return use.get() != nullptr && FlushState(*use.get(), toDisk);
}

void LogClose(uint32_t timeoutMs) {
    if (g_enabled.load() == 0) {
        return;
    }
    int32_t expected = kOpen;
    if (!g_phase.compare_exchange_strong(expected, kClosing)) {
        return;
    }
    // From here on new writes are dropped; wait for those already copying a line.
    while (g_users.load() != 0) {
        platform::YieldThread();
    }
    std::shared_ptr<LogState> log = std::move(g_owner);
    g_log = nullptr;
    // Everything written before the close goes to the file and the disk on this thread, before
    // the writer thread is stopped: a writer of the lowest priority may get no processor time
    // before the process ends.
    bool writerFlushing = false;
    FlushState(*log, true, &writerFlushing);
    log->stop_event->Set();
    log->writer->Join(timeoutMs);
    // The writer thread was in the middle of a flush: it writes only the bytes pending when it
    // began. The rest is written and flushed to disk once the thread has ended, by the close or,
    // if the close stops waiting first, by the thread itself, which keeps the state alive.
    if (writerFlushing && log->handoff.exchange(kCloseGaveUp) == kThreadEnded) {
        FlushState(*log, true);
    }
    log.reset();
    g_phase.store(kClosed);
}
