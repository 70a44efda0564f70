// The host build's platform: the host's own implementation of every interface.
#include "platform/platform.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/sync_posix.h"

namespace platform {

const Platform& Native() {
    static posix::PosixClock clock;
    static posix::PosixSync sync;
    static posix::PosixFileSystem files;
    static posix::PosixSystemText text;
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
