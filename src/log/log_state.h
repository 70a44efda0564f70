// State shared by the log's translation units: the enabled flag of the start-key state, and the
// state of an open log, which the lifetime (log.cpp) creates and releases and the buffer and its
// writer thread (log_buffer.cpp) and the line format (log_line.cpp) use.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "platform/sync.h"

namespace log_detail {

// The log enabled flag of the start-key state.
extern std::atomic<int32_t> g_enabled;

inline constexpr size_t kNameSize = 260;          // name and directory, terminator included
inline constexpr size_t kBufferSize = 200010;     // bytes allocated for the buffer
inline constexpr uint32_t kBufferLimit = 200000;  // the buffer is never filled to this many bytes

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

}  // namespace log_detail
