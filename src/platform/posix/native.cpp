// The host build's platform: what the host programs need to download over a pty. The Windows-only
// subsystems (shell folders, registry, device interfaces, the options files that name images,
// and those of the service) stay null: the host tests them against fakes.
#include "platform/platform.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/images_posix.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/sync_posix.h"

namespace platform {

const Platform& Native() {
    static posix::PosixClock clock;
    static posix::PosixSync sync;
    static posix::PosixFileSystem files;
    static posix::PosixSystemText text;
    static posix::PosixSerialPorts serial;
    static const Platform native = [] {
        Platform p;
        p.clock = &clock;
        p.sync = &sync;
        p.files = &files;
        p.text = &text;
        p.serial = &serial;
        p.images = posix::NativeImageFiles();
        return p;
    }();
    return native;
}

}  // namespace platform
