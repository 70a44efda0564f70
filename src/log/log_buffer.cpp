// The log's buffer and its writer thread: writers copy their finished lines into the shared
// buffer under the buffer lock; the writer thread, or a writer that finds the buffer full, moves
// the buffer to the file under the flush lock.
#include "log/log_buffer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>

#include "log/log_state.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace {

constexpr uint32_t kWriterBatchMs = 2000;
constexpr uint32_t kRoomWaitMs = 2000;  // longest wait of a writer for room in the buffer

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

}  // namespace

namespace log_detail {

// Moves the pending bytes to the file. When another flush is running, does nothing, sets *busy
// (if given) and returns true: that flush does the work.
bool FlushState(LogState& log, bool toDisk, bool* busy) {
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

}  // namespace log_detail
