// A stand-in for another program's service, for the Wine tests: it runs under the service name
// given as its first argument until it is stopped, and appends "running" and "stopped" lines to
// the file given as its second argument. Built on the platform seam like the product.
#include <memory>
#include <string>

#include "platform/files.h"
#include "platform/platform.h"
#include "platform/service_host.h"
#include "platform/service_manager.h"
#include "platform/sync.h"
#include "platform/utf8.h"

namespace {

std::wstring g_name;
std::wstring g_record;
std::unique_ptr<platform::Event> g_stop;
platform::StatusHandle g_handle = 0;

void Record(const char* line) {
    platform::ErrorCode error = 0;
    std::unique_ptr<platform::AppendFile> file =
        platform::Get().files->OpenForAppend(g_record, nullptr, &error);
    uint32_t written = 0;
    if (file) {
        file->Write(line, static_cast<uint32_t>(std::char_traits<char>::length(line)), &written);
    }
}

void Report(uint32_t state) {
    platform::ServiceStatus status;
    status.serviceType = platform::service::kWin32OwnProcess;
    status.currentState = state;
    status.controlsAccepted = state == platform::service::kRunning ? 1 : 0;
    platform::Get().serviceHost->SetStatus(g_handle, status);
}

uint32_t Handler(uint32_t control, uint32_t, void*, void*) {
    if (control == platform::service::kControlStop) {
        Report(platform::service::kStopPending);
        g_stop->Set();
    }
    return 0;
}

void ServiceMain(uint32_t, wchar_t**) {
    if (platform::Get().serviceHost->RegisterControlHandler(g_name.c_str(), Handler, nullptr,
                                                            &g_handle) != 0) {
        return;
    }
    Report(platform::service::kRunning);
    Record("running\n");
    platform::Event* events[] = {g_stop.get()};
    platform::Get().sync->WaitAny(events, 1, platform::kInfinite);
    Record("stopped\n");
    Report(platform::service::kStopped);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return 1;
    }
    g_name = argv[1];
    g_record = argv[2];
    platform::ErrorCode error = 0;
    g_stop = platform::Get().sync->CreateEvent(true, false, &error);
    if (!g_stop) {
        return 1;
    }
    return platform::Get().services->RunDispatcher(g_name.c_str(), ServiceMain) == 0 ? 0 : 2;
}
