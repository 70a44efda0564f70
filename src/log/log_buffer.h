// The log's buffer and its writer thread (log_buffer.cpp), as the line format and the lifetime
// use them.
#pragma once

#include <cstddef>
#include <memory>

#include "log/log_state.h"

namespace log_detail {

// Moves the pending bytes to the file. When another flush is running, does nothing, sets *busy
// (if given) and returns true: that flush does the work.
bool FlushState(LogState& log, bool toDisk, bool* busy = nullptr);

// Copies a finished line into the buffer as UTF-16LE, waiting for room when it is full.
void AppendLine(LogState& log, const wchar_t* line, size_t length);

// The body of the writer thread, from the open until the close sets the stop event.
void RunWriter(const std::shared_ptr<LogState>& log);

}  // namespace log_detail
