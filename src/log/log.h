// The process-wide log: timestamped UTF-16LE lines, appended to a memory buffer by the writing
// threads and moved to the file by a background writer thread of the lowest priority.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <type_traits>

// Results of LogOpen.
constexpr int32_t kLogOk = 0;
constexpr int32_t kLogOutOfMemory = static_cast<int32_t>(0x8007000E);  // E_OUTOFMEMORY
constexpr int32_t kLogFail = static_cast<int32_t>(0x80004005);         // E_FAIL
constexpr int32_t kLogEventFailed = static_cast<int32_t>(0x80004007);
constexpr int32_t kLogThreadFailed = static_cast<int32_t>(0x80004008);
// The folder or the file found there is not written: it leads somewhere else (E_ACCESSDENIED).
constexpr int32_t kLogRefused = static_cast<int32_t>(0x80070005);

// Why an open refused the log: the path it refused and the reason, in the system's words.
struct LogRefusal {
    std::wstring path;
    std::wstring reason;
};

// The descriptor of a folder or file the log makes: protected, full control for SYSTEM and
// Administrators, read for Users.
inline constexpr wchar_t kLogDescriptor[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

// Opens the log file "<directory>\<name>.log" when the log is enabled and not yet open.
// Returns 0 (also when there is nothing to do) or one of the negative results above; a
// failed open switches the log off for good. A folder that is a reparse point, or a file that
// is one or has more than one link, is refused (kLogRefused, with *refusal filled when given):
// the log is written only into a file of its own.
int32_t LogOpen(const wchar_t* name, const wchar_t* directory, LogRefusal* refusal = nullptr);

bool LogIsOpen();

// Writes one line; with isError the line carries "ERROR: ". Does nothing while the log is off
// or not open.
void WriteV(bool isError, const wchar_t* format, va_list args);

// A function that is also given the text of every line written (formatted, without timestamp
// and line end), whether or not the log is open: a console program shows it. Called on the
// writing thread; nullptr for none.
using LogEcho = void (*)(bool isError, const wchar_t* text);
void SetLogEcho(LogEcho echo);

// Moves the pending lines to the file; with toDisk, also flushes the file to disk. True when
// it moved bytes or found another flush running.
bool LogFlush(bool toDisk);

// Ends the log: everything written before the close began reaches the file and the disk.
// timeoutMs bounds the wait for the writer thread.
void LogClose(uint32_t timeoutMs);

// "<system text> (0x<code>)", or the empty string when the system has no text for the code.
// The text lives in a buffer of the calling thread, valid until its next call.
const wchar_t* ErrorText(uint32_t code);

// C-variadic entry points behind the checked templates below.
void LogWriteUnchecked(const wchar_t* format, ...);
void LogWriteErrorUnchecked(const wchar_t* format, ...);

namespace log_detail {
// The arguments a log format may take: integers of at most 32 bits (%d, %u, %x) and wide
// strings (%ls). A 64-bit integer would shift every later argument of a 32-bit build.
template <typename T>
constexpr bool kLogArgument = (std::is_integral_v<T> && sizeof(T) <= 4 &&
                               !std::is_same_v<T, bool>) ||
                              std::is_same_v<T, const wchar_t*> || std::is_same_v<T, wchar_t*>;
}  // namespace log_detail

// The plain write: one timestamped line with a printf-style wide format.
template <typename... Args>
void LogWrite(const wchar_t* format, Args... args) {
    static_assert((log_detail::kLogArgument<Args> && ...),
                  "log arguments are integers of at most 32 bits and wide strings");
    LogWriteUnchecked(format, args...);
}

// The error write: the same with "ERROR: " behind the timestamp.
template <typename... Args>
void LogWriteError(const wchar_t* format, Args... args) {
    static_assert((log_detail::kLogArgument<Args> && ...),
                  "log arguments are integers of at most 32 bits and wide strings");
    LogWriteErrorUnchecked(format, args...);
}
