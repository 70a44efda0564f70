#include "log/start_keys.h"

#include "log/log_state.h"

void SetLogEnabled(bool enabled) {
    log_detail::g_enabled.store(enabled ? 1 : 0);
}

bool IsLogEnabled() {
    return log_detail::g_enabled.load() != 0;
}

wchar_t (&LogDirectory())[kLogDirectoryChars] {
    static wchar_t directory[kLogDirectoryChars] = {};
    return directory;
}
