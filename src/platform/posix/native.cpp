// The host build's platform: the host's own implementation of every interface.
#include "platform/platform.h"
#include "platform/posix/clock_posix.h"
#include "platform/posix/devices_posix.h"
#include "platform/posix/files_posix.h"
#include "platform/posix/images_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/serial_posix.h"
#include "platform/posix/shell_posix.h"
#include "platform/posix/sync_posix.h"
#include "platform/posix/text_files_posix.h"

namespace platform {

const Platform& Native() {
    static posix::PosixClock clock;
    static posix::PosixSync sync;
    static posix::PosixFileSystem files;
    static posix::PosixSystemText text;
    static posix::PosixShellFolders folders;
    static posix::PosixRegistry registry;
    static posix::PosixDeviceInterfaces devices;
    static posix::PosixTextFiles textFiles;
    static posix::PosixSerialPorts serial;
    static const Platform native = [] {
        Platform p;
        p.clock = &clock;
        p.sync = &sync;
        p.files = &files;
        p.text = &text;
        p.serial = &serial;
        p.images = posix::NativeImageFiles();
        p.folders = &folders;
        p.registry = &registry;
        p.devices = &devices;
        p.textFiles = &textFiles;
        return p;
    }();
    return native;
}

}  // namespace platform
