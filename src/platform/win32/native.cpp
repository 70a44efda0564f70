// The Windows build's platform: thin adapters over the Win32 calls.
#include "platform/platform.h"
#include "platform/win32/clock_win32.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/device_notifications_win32.h"
#include "platform/win32/devices_win32.h"
#include "platform/win32/event_log_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/images_win32.h"
#include "platform/win32/path_functions_win32.h"
#include "platform/win32/process_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/registry_writes_win32.h"
#include "platform/win32/security_win32.h"
#include "platform/win32/serial_win32.h"
#include "platform/win32/service_host_win32.h"
#include "platform/win32/service_manager_win32.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/sync_win32.h"
#include "platform/win32/text_files_win32.h"

namespace platform {

const Platform& Native() {
    static win32::Win32Clock clock;
    static win32::Win32Sync sync;
    static win32::Win32FileSystem files;
    static win32::Win32SystemText text;
    static win32::Win32ShellFolders folders;
    static win32::Win32Registry registry;
    static win32::Win32DeviceInterfaces devices;
    static win32::Win32TextFiles textFiles;
    static win32::Win32SerialPorts serial;
    static win32::Win32ServiceHost serviceHost;
    static win32::Win32EventLog eventLog;
    static win32::Win32DeviceNotifications notifications;
    static win32::Win32Process process;
    static win32::Win32ServiceManager services;
    static win32::Win32RegistryWrites registryWrites;
    static win32::Win32PathFunctions paths;
    static win32::Win32Console console;
    static win32::Win32Security security;
    static const Platform native = [] {
        Platform p;
        p.clock = &clock;
        p.sync = &sync;
        p.files = &files;
        p.text = &text;
        p.serial = &serial;
        p.images = win32::NativeImageFiles();
        p.folders = &folders;
        p.registry = &registry;
        p.devices = &devices;
        p.textFiles = &textFiles;
        p.serviceHost = &serviceHost;
        p.eventLog = &eventLog;
        p.notifications = &notifications;
        p.process = &process;
        p.services = &services;
        p.registryWrites = &registryWrites;
        p.paths = &paths;
        p.console = &console;
        p.security = &security;
        return p;
    }();
    return native;
}

}  // namespace platform
