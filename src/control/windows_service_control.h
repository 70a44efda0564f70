// The console side of a Windows service program: the command dispatch of the program's entry
// point, the start keys of service mode, and the commands that install, remove, start and
// stop the service through the service control manager. Everything program-specific comes
// from the one derived controller through eight virtual operations.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace platform {
class Service;
class ServiceDatabase;
}  // namespace platform

class cWindowsServiceControl {
  public:
    // Characters of the service command line, terminator included.
    static constexpr size_t kCommandLineChars = 520;

    // The one controller of the process registers itself here.
    cWindowsServiceControl();
    virtual ~cWindowsServiceControl();
    cWindowsServiceControl(const cWindowsServiceControl&) = delete;
    cWindowsServiceControl& operator=(const cWindowsServiceControl&) = delete;

    // Prints the banner and the keys.
    virtual void Usage() = 0;
    // The whole command argument, "-" or "/" included: an exit code of 0 or more when handled,
    // negative to decline.
    virtual int HandleCommand(const wchar_t* command) = 0;
    // An install key other than -log, at keys[index]: appends its service form to the command
    // line and returns true when accepted. May move the index past arguments it takes; setting
    // abort ends the install without a further message.
    virtual bool AddInstallKey(std::wstring& commandLine, int count, wchar_t** keys, int& index,
                               bool& abort) = 0;
    // A start key in service mode, at keys[index]: 0 when taken. May move the index.
    virtual int ParseStartKey(unsigned count, wchar_t** keys, unsigned& index) = 0;
    virtual const wchar_t* GetTitle() = 0;
    virtual const wchar_t* GetServiceName() = 0;
    virtual const wchar_t* GetDisplayName() = 0;
    // The service's dependencies for CreateServiceW: strings each ended by a terminator, then
    // an empty one.
    virtual const wchar_t* GetDependencies() = 0;

    // The controller registered last (the process's one).
    static cWindowsServiceControl& Instance();

    // The program's entry: runs the command of argv[1] and returns the process exit code.
    int Main(int argc, wchar_t** argv);
    // Service mode: the start keys into the start-key state.
    void ParseStartKeys(wchar_t** keys, unsigned count);
    // -install: true when the service was created and its event-log source registered.
    bool Install(wchar_t** keys, int count);
    // Appends " -service" and the accepted start keys to the command line, which holds the
    // executable's path. logDirectory gets the absolute folder of the last -log. False, with
    // the message printed, when a key is refused or the line would not fit.
    bool BuildServiceCommandLine(wchar_t** keys, int count, std::wstring& commandLine,
                                 std::wstring& logDirectory);
    // The service's event-log source, with the executable as message file; a Windows error
    // code, 0 for success.
    uint32_t RegisterEventLogSource(const std::wstring& messageFile);
    void Remove();
    void Start();
    void Stop();

  protected:
    // Prints the format to standard output, each "%s" replaced by the next argument.
    static void Print(const wchar_t* format, std::initializer_list<std::wstring> args = {});

  private:
    // The new service's failure actions and required privileges; a failure is printed and the
    // service stays installed.
    void ConfigureNewService(platform::Service& service);
    // False when the service could not reach the -log folder: a drive letter mapped to a
    // network share, a device path.
    static bool LogFolderReachable(const std::wstring& folder);
    // False, with the message printed, when a non-administrator can change the -log folder
    // on a local drive or a folder above it.
    static bool LogFolderSafe(const std::wstring& folder);
    // True when the service command line fits its buffer, terminator included; else prints why
    // it is refused.
    static bool CommandLineFits(const std::wstring& commandLine);
    // Opens the service manager into `manager` and the service; on failure prints the message
    // (notInstalled when the service does not exist) and returns null.
    std::unique_ptr<platform::Service> OpenInstalledService(
        std::unique_ptr<platform::ServiceDatabase>& manager, const wchar_t* notInstalled);
    // After a stop control: "Stopping %s...", a dot a second while the service is stopping,
    // then "stopped" or "failed".
    void WaitForStop(platform::Service& service);
};
