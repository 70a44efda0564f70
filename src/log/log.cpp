// The log's lifetime: opening, closing, and the entry points that reach the open log. The log's
// state is created by LogOpen and shared between the close and the writer thread, so a close
// whose wait for the thread runs out never releases what the thread still uses. Every write and
// flush from outside counts itself in g_users for as long as it touches the state; the close
// switches the state to closing first and then waits until no such call is left, so no call ever
// touches a buffer or lock that is gone.
#include "log/log.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "log/log_buffer.h"
#include "log/log_line.h"
#include "log/log_state.h"
#include "platform/critical_section.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace log_detail {
std::atomic<int32_t> g_enabled{0};
}  // namespace log_detail

namespace {

using log_detail::FlushState;
using log_detail::g_enabled;
using log_detail::kCloseGaveUp;
using log_detail::kNameSize;
using log_detail::kThreadEnded;
using log_detail::LogState;

constexpr uint32_t kLockSpinCount = 0x80000400;

enum LogPhase : int32_t { kClosed, kOpening, kOpen, kClosing };

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

int32_t Refuse(LogRefusal* refusal, const std::wstring& path, const wchar_t* reason) {
    if (refusal != nullptr) {
        refusal->path = path;
        refusal->reason = reason;
    }
    return kLogRefused;
}

// The log's file is opened without following a reparse point at its name, and its folder must
// not be one: a junction or link put there would send SYSTEM's writes into a file of someone
// else's choosing, as would a hard link to another file.
int32_t OpenFile(platform::FileSystem& files, LogState& log, LogRefusal* refusal) {
    // The folder itself, not what a closing backslash would lead into.
    std::wstring folder = log.directory;
    while (folder.size() > 3 && folder.back() == L'\\') {
        folder.pop_back();
    }
    uint32_t attributes = 0;
    if (files.GetAttributes(folder, &attributes) == 0 &&
        (attributes & platform::file_attribute::kReparsePoint) != 0) {
        return Refuse(refusal, folder,
                      L"the folder is a reparse point (a junction or a link to another folder)");
    }
    platform::ErrorCode error = 0;
    log.file = files.OpenForAppend(log.path, kLogDescriptor, &error);
    if (!log.file) {
        if (files.CreateDirectory(log.directory, kLogDescriptor) != 0) {
            return kLogFail;
        }
        log.file = files.OpenForAppend(log.path, kLogDescriptor, &error);
        if (!log.file) {
            return kLogFail;
        }
    }
    uint32_t links = 0;
    if (log.file->GetInformation(&attributes, &links) != 0) {
        return kLogFail;
    }
    if ((attributes & platform::file_attribute::kReparsePoint) != 0) {
        return Refuse(refusal, log.path, L"the file is a reparse point (a link to another file)");
    }
    if ((attributes & platform::file_attribute::kDirectory) != 0) {
        return Refuse(refusal, log.path, L"the file is a folder");
    }
    if (links != 1) {
        return Refuse(refusal, log.path,
                      L"the file has more than one link (a hard link to another file)");
    }
    return kLogOk;
}

int32_t OpenState(const wchar_t* name, const wchar_t* directory,
                  const std::shared_ptr<LogState>& log, LogRefusal* refusal) {
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
    log->buffer.reset(new (std::nothrow) uint8_t[log_detail::kBufferSize]);
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

    if (int32_t opened = OpenFile(*os.files, *log, refusal); opened != kLogOk) {
        return opened;
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
    log->writer = os.sync->StartThread([log] { log_detail::RunWriter(log); }, &error);
    if (!log->writer) {
        return kLogThreadFailed;
    }
    log->writer->SetPriority(platform::ThreadPriority::kLowest);
    return kLogOk;
}

}  // namespace

int32_t LogOpen(const wchar_t* name, const wchar_t* directory, LogRefusal* refusal) {
    if (g_enabled.load() == 0) {
        return kLogOk;
    }
    int32_t expected = kClosed;
    if (!g_phase.compare_exchange_strong(expected, kOpening)) {
        return kLogOk;  // a log is open or being opened
    }
    auto log = std::make_shared<LogState>();
    int32_t result = OpenState(name, directory, log, refusal);
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
        log_detail::EchoLine(echo, isError, format, args);
    }
    if (g_enabled.load(std::memory_order_relaxed) == 0 ||
        g_phase.load(std::memory_order_relaxed) != kOpen || format == nullptr) {
        return;
    }
    LogUse use;
    if (use.get() != nullptr) {
        log_detail::WriteLine(*use.get(), isError, format, args);
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
