// The log's line format and timestamp (log_line.cpp), as the lifetime's write entry uses them.
#pragma once

#include <cstdarg>

#include "log/log.h"
#include "log/log_state.h"

namespace log_detail {

// Formats one line (leading line feeds as CR LF, timestamp, "ERROR: " with isError, the text,
// CR LF) and appends it to the open log's buffer; a line that cannot be formatted gives one of
// the log's own reports instead.
void WriteLine(LogState& log, bool isError, const wchar_t* format, va_list args);

// Hands the text of a line to the echo: formatted as the log formats it, without timestamp and
// line end.
void EchoLine(LogEcho echo, bool isError, const wchar_t* format, va_list args);

}  // namespace log_detail
