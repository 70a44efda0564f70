// The start-key state: process-wide values that service mode sets from its start keys before
// the service starts, and that the log and the service read.
#pragma once

// The log enabled flag: 0 at process start, set by the start key -log, cleared by -nolog and by
// a failed LogOpen.
void SetLogEnabled(bool enabled);
bool IsLogEnabled();

// The log directory of the start-key state: a buffer of 260 wide characters including the
// terminator, empty at process start. The start key -log copies its folder argument into it; the
// service host completes it before it opens the log.
inline constexpr unsigned kLogDirectoryChars = 260;
wchar_t (&LogDirectory())[kLogDirectoryChars];
