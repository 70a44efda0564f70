// The one process-wide platform: every call into the operating system goes through it.
// The program's entry point uses the build's native platform (Win32, or on the host the POSIX
// one, which has only what a download over a pty needs); tests install fakes.
#pragma once

namespace platform {

class Clock;
class Sync;
class FileSystem;
class SystemText;
class SerialPorts;
class ImageFiles;
class ShellFolders;
class Registry;
class DeviceInterfaces;
class TextFiles;
class ServiceHost;
class EventLog;
class DeviceNotifications;
class Process;
class ServiceManager;
class RegistryWrites;
class PathFunctions;
class Console;
class Security;

struct Platform {
    Clock* clock = nullptr;
    Sync* sync = nullptr;
    FileSystem* files = nullptr;
    SystemText* text = nullptr;
    SerialPorts* serial = nullptr;  // serial devices (the card's port)
    ImageFiles* images = nullptr;   // image files mapped read-only

    // Windows only: the host's native platform leaves these null (the host tests finding the
    // card and its files, the service and the console commands against fakes).
    ShellFolders* folders = nullptr;      // Program Files, common application data
    Registry* registry = nullptr;         // HKEY_LOCAL_MACHINE values
    DeviceInterfaces* devices = nullptr;  // present COM-port device interfaces
    TextFiles* textFiles = nullptr;       // files read as text (options files), ANSI widening
    ServiceHost* serviceHost = nullptr;   // control handler and status reports
    EventLog* eventLog = nullptr;         // the Application event log
    DeviceNotifications* notifications = nullptr;  // device-interface arrivals to the service
    Process* process = nullptr;                    // program path, priorities
    ServiceManager* services = nullptr;            // the service control manager and dispatcher
    RegistryWrites* registryWrites = nullptr;      // HKEY_LOCAL_MACHINE keys written
    PathFunctions* paths = nullptr;                // shell path functions
    Console* console = nullptr;                    // standard output of the console commands
    Security* security = nullptr;  // owners and DACLs of files and folders, the process's user
};

// The build's own implementation of every interface.
const Platform& Native();

// The platform in use: the one installed last, else the native one.
const Platform& Get();

// Installs a platform for the lifetime of this object (tests), then puts back the previous one.
// Not meant to be changed while other threads use the platform.
class ScopedPlatform {
  public:
    explicit ScopedPlatform(const Platform& platform);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

  private:
    const Platform* previous_;
    Platform platform_;
};

}  // namespace platform
