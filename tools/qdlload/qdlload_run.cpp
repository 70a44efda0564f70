#include "qdlload_run.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "console_text.h"
#include "discovery/load_attempt.h"
#include "download/load_to_port.h"
#include "log/log.h"
#include "log/start_keys.h"
#include "platform/types.h"

namespace {

std::atomic<bool> g_verbose{false};

// Every line of the log on standard error, so that a failure always shows its cause; the
// hexadecimal trace of the frames ("Send: ", "Rcvd: " and its continuation lines) only when
// verbose.
void EchoToStandardError(bool isError, const wchar_t* text) {
    const std::wstring line = text;
    const bool trace = line.rfind(L"Send: ", 0) == 0 || line.rfind(L"Rcvd: ", 0) == 0 ||
                       line.rfind(L"      ", 0) == 0;
    if (trace && !g_verbose.load()) {
        return;
    }
    WriteText(stderr, (isError ? L"ERROR: " : L"") + line + L"\n");
}

// Echoes the log for its lifetime.
class LogEchoScope {
  public:
    explicit LogEchoScope(bool verbose) {
        g_verbose = verbose;
        SetLogEcho(&EchoToStandardError);
    }
    ~LogEchoScope() { SetLogEcho(nullptr); }
    LogEchoScope(const LogEchoScope&) = delete;
    LogEchoScope& operator=(const LogEchoScope&) = delete;
};

// The log of one qdlload run: DIR\qdlload.log, written as the service writes its own.
class RunLog {
  public:
    bool Open(const std::wstring& directory) {
        SetLogEnabled(true);
        opened_ = LogOpen(L"qdlload", directory.c_str()) == kLogOk && LogIsOpen();
        return opened_;
    }
    ~RunLog() {
        if (opened_) {
            LogClose(platform::kInfinite);
        }
    }

  private:
    bool opened_ = false;
};

}  // namespace

int RunQdlload(const QdlloadOptions& options) {
#ifndef _WIN32
    // The card, its port and its files are found through the device interfaces, the registry
    // and the shell folders of Windows, which the host build does not have.
    if (options.mode == QdlloadOptions::Mode::kAuto) {
        WriteText(stderr,
                  L"qdlload: --auto is in the Windows build only: give the port and the "
                  L"images\n");
        return kQdlloadUsage;
    }
#endif
    FirmwareFileSet files = options.files;
    std::wstring port = options.port;
    LoadPreparation preparation = LoadPreparation::kReady;
    bool loaded = false;
    {
        const LogEchoScope echo(options.verbose);
        RunLog log;
        if (!options.logDirectory.empty() && !log.Open(options.logDirectory)) {
            WriteText(stderr,
                      L"qdlload: unable to open the log in " + options.logDirectory + L"\n");
            return kQdlloadFailed;
        }
#ifdef _WIN32
        if (options.mode == QdlloadOptions::Mode::kAuto) {
            DeviceMatch device;
            preparation = PrepareLoad(device, !options.files.UsePreference, &port, &files);
        }
#endif
        loaded = preparation == LoadPreparation::kReady && LoadToPort(port, files);
    }
    if (preparation == LoadPreparation::kAlreadyLoaded) {
        WriteText(stdout, L"qdlload: firmware is already loaded\n");
        return kQdlloadLoaded;
    }
    if (loaded) {
        WriteText(stdout, L"qdlload: firmware loaded into " + port + L"\n");
        return kQdlloadLoaded;
    }
    WriteText(stdout, L"qdlload: firmware loading failed\n");
    return kQdlloadFailed;
}

int QdlloadMain(const std::vector<std::wstring>& args) {
    QdlloadOptions options;
    std::wstring error;
    if (!ParseQdlloadArguments(args, &options, &error)) {
        WriteText(stderr, L"qdlload: " + error + L"\n" + QdlloadUsage());
        return kQdlloadUsage;
    }
    switch (options.mode) {
        case QdlloadOptions::Mode::kHelp:
            WriteText(stdout, QdlloadUsage());
            return kQdlloadLoaded;
        case QdlloadOptions::Mode::kPort:
        case QdlloadOptions::Mode::kAuto:
            return RunQdlload(options);
    }
    return kQdlloadUsage;
}
