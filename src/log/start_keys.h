// The start-key state: process-wide values that service mode sets from its start keys before
// the service starts, and that the log and the service read.
#pragma once

// The log enabled flag: 0 at process start, set by the start key -log, cleared by -nolog and by
// a failed LogOpen.
void SetLogEnabled(bool enabled);
bool IsLogEnabled();
