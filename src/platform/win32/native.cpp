// The Windows build's platform: thin adapters over the Win32 calls.
#include "platform/platform.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/sync_win32.h"

namespace platform {

const Platform& Native() {
    static win32::Win32Clock clock;
    static win32::Win32Sync sync;
    static win32::Win32FileSystem files;
    static win32::Win32SystemText text;
    static const Platform native = [] {
        Platform p;
        p.clock = &clock;
        p.sync = &sync;
        p.files = &files;
        p.text = &text;
        return p;
    }();
    return native;
}

}  // namespace platform
