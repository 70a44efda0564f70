#include "service/native_service.h"

#ifdef _WIN32

#include "platform/win32/windows_api.h"

#include <dbt.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "log/log.h"
#include "log/start_keys.h"
#include "service/service_rig.h"
#include "support/log_capture.h"

namespace service_test {

std::vector<uint8_t> SystemBroadcastRecord(const std::wstring& path) {
    const size_t size =
        offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
    std::vector<uint8_t> bytes(size, 0);
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = {
        0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
    std::memcpy(record->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return bytes;
}

static_assert(kArrival == DBT_DEVICEARRIVAL && kSuspend == PBT_APMSUSPEND);

const char* NativeService::LogFolder() {
    const char* folder = std::getenv("DOVRAND_SERVICE_HOTPLUG_LOG");
    return folder != nullptr && *folder != '\0' ? folder : nullptr;
}

NativeService::NativeService() : previous_(cWindowsService::Instance()) {
    platform::Platform p = platform::Native();
    p.serviceHost = &host;
    use_.emplace(p);
    cWindowsService::ResetClassState();  // as a new service process has it
    cWindowsService::SetInstance(&service);
    SetLogEnabled(true);
    const std::string folder(LogFolder());
    const std::wstring wide(folder.begin(), folder.end());
    wide.copy(LogDirectory(), kLogDirectoryChars - 1);
    logPath_ = folder + "\\Dovrand.log";
}

NativeService::~NativeService() {
    if (thread_.joinable()) {
        host.Send(1);  // SERVICE_CONTROL_STOP
        Join();
    }
    cWindowsService::SetInstance(previous_);
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';
}

void NativeService::Start() {
    std::promise<void> ended;
    done_ = ended.get_future();
    thread_ = std::thread([ended = std::move(ended)]() mutable {
        cWindowsService::ServiceMain(0, nullptr);
        ended.set_value();
    });
}

void NativeService::Join() {
    JoinWithin(thread_, done_, 60000);
}

std::vector<std::wstring> NativeService::Lines() {
    LogFlush(false);
    std::ifstream in(logPath_, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return LogLines(DecodeUtf16Le(bytes, 2));
}

bool NativeService::AwaitLine(const std::wstring& line, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        const std::vector<std::wstring> lines = Lines();
        if (std::count(lines.begin(), lines.end(), line) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

}  // namespace service_test

#endif
