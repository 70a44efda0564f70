#include "service/service_rig.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <ostream>

#include "download/load_to_port_test_card.h"
#include "log/log.h"
#include "log/start_keys.h"
#include "support/log_capture.h"

namespace service_test {

namespace {

const std::wstring kClass = L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::wstring kPortKey =
    L"SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_05c6&pid_9204\\6&1a2b3c4d&0&2\\Device Parameters";
constexpr wchar_t kOptions[] = L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kLenovo.txt";
const std::wstring kImages[] = {L"C:\\FW\\AMSS.MBN", L"C:\\FW\\APPS.MBN", L"C:\\FW\\UQCN.MBN"};

std::vector<uint8_t> Utf16File(const std::wstring& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

}  // namespace

const std::wstring kDownloadPath = L"\\\\?\\usb#vid_05c6&pid_9204#6&1a2b3c4d&0&2" + kClass;
const std::wstring kModemPath = L"\\\\?\\usb#vid_05c6&pid_9205#6&1a2b3c4d&0&2" + kClass;
const std::wstring kForeignPath = L"\\\\?\\ACPI#PNP0501#1" + kClass;
const std::vector<std::wstring>& PreparedLines() {
    static const std::vector<std::wstring> lines = {
        L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.",
        L"QDLoader port is COM7.",
        L"Reading " + std::wstring(kOptions),
        L"Default Amss: C:\\FW\\AMSS.MBN",
        L"Default Apps: C:\\FW\\APPS.MBN",
        L"Default Uqcn: C:\\FW\\UQCN.MBN"};
    return lines;
}

std::ostream& operator<<(std::ostream& out, const Report& r) {
    return out << "{state " << r.state << ", accepted 0x" << std::hex << r.accepted << std::dec
               << ", check point " << r.checkPoint << ", hint " << r.waitHint << ", exit "
               << r.win32Exit << "/" << r.specificExit << "}";
}

namespace {

bool LinesMatchFrom(const std::vector<std::wstring>& lines, size_t at,
                    const std::vector<std::wstring>& expected, size_t next) {
    if (next == expected.size()) {
        return at == lines.size();
    }
    if (expected[next] == L"...") {
        for (size_t skip = at; skip <= lines.size(); ++skip) {
            if (LinesMatchFrom(lines, skip, expected, next + 1)) {
                return true;
            }
        }
        return false;
    }
    return at < lines.size() && lines[at] == expected[next] &&
           LinesMatchFrom(lines, at + 1, expected, next + 1);
}

}  // namespace

bool LinesMatch(const std::vector<std::wstring>& lines, const std::vector<std::wstring>& expected) {
    return LinesMatchFrom(lines, 0, expected, 0);
}

std::string Shown(const std::vector<std::wstring>& lines) {
    std::string shown;
    for (const std::wstring& line : lines) {
        for (wchar_t c : line) {
            shown += c < 0x80 ? static_cast<char>(c) : '?';
        }
        shown += '\n';
    }
    return shown;
}

std::vector<uint8_t> BroadcastRecord(const std::wstring& path) {
    const size_t size = 28 + 2 * (path.size() + 1);
    std::vector<uint8_t> record(size, 0);
    for (size_t i = 0; i < 4; ++i) {
        record[i] = static_cast<uint8_t>(size >> (8 * i));
    }
    record[4] = 5;  // DBT_DEVTYP_DEVICEINTERFACE
    for (size_t i = 0; i < path.size(); ++i) {
        record[28 + 2 * i] = static_cast<uint8_t>(path[i] & 0xFF);
        record[29 + 2 * i] = static_cast<uint8_t>((path[i] >> 8) & 0xFF);
    }
    return record;
}

ServiceRig::ServiceRig() : previous_(cWindowsService::Instance()) {
    platform::Platform p = platform::Get();
    p.sync = &sync;
    p.serviceHost = &host;
    p.eventLog = &events;
    p.notifications = &notifications;
    p.process = &process;
    p.files = &files;
    p.text = &text;
    p.clock = &clock;
    p.devices = &devices;
    p.registry = &registry;
    p.textFiles = &textFiles;
    p.folders = &folders;
    p.serial = &serial;
    p.images = &images;
    p.paths = &paths;
    p.services = &services;
    use_.emplace(p);
    sync.HoldWaits(30000);
    files.AddDirectory(L"C:\\logs");
    process.SetModulePath(L"C:\\logs\\Dovrand.exe");
    cWindowsService::ResetClassState();
    cWindowsService::SetInstance(&service);
    SetLogEnabled(true);
    std::wcscpy(LogDirectory(), L"C:\\logs");
}

void JoinWithin(std::thread& thread, std::future<void>& done, uint32_t timeoutMs) {
    if (done.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        ADD_FAILURE() << "the service thread has not ended within " << timeoutMs
                      << " ms (a stop was lost); the test program ends here";
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(1);
    }
    thread.join();
}

ServiceRig::~ServiceRig() {
    if (thread_.joinable()) {
        host.Send(1);  // SERVICE_CONTROL_STOP
        Join();
    }
    LogClose(platform::kInfinite);
    SetLogEnabled(false);
    LogDirectory()[0] = L'\0';
    cWindowsService::ResetClassState();
    cWindowsService::SetInstance(previous_);
}

void ServiceRig::AddCard(const std::wstring& path) {
    devices.Add(path);
    AddCardFiles();
}

void ServiceRig::AddCardFiles(const std::vector<std::vector<uint8_t>>& bytes) {
    registry.SetString(kPortKey, L"PortName", L"COM7");
    textFiles.AddFile(kOptions, Utf16File(L"c:\\fw\\amss.mbn\r\nc:\\fw\\apps.mbn\r\n"
                                          L"c:\\fw\\uqcn.mbn\r\n"));
    for (size_t i = 0; i < 3; ++i) {
        images.AddFile(kImages[i], i < bytes.size() ? bytes[i]
                                                    : download_test::ImageBytes(
                                                          100 + i, static_cast<uint8_t>(i)));
    }
}

void ServiceRig::ScriptLoad() {
    serial.state().Arrive(download_test::InitialAnswer(-1));
    for (int i = 0; i < 3; ++i) {
        serial.state().Arrive(download_test::PreFirmwareAnswer());
        serial.state().Arrive(download_test::PostFirmwareResponse());
    }
}

void ServiceRig::Start() {
    std::promise<void> ended;
    done_ = ended.get_future();
    thread_ = std::thread([ended = std::move(ended)]() mutable {
        cWindowsService::ServiceMain(0, nullptr);
        ended.set_value();
    });
}

void ServiceRig::Join() {
    JoinWithin(thread_, done_, kRealTimeoutMs);
}

bool ServiceRig::AwaitRunning() {
    return host.AwaitState(kRunning, kRealTimeoutMs) &&
           (cWindowsService::Instance() != &service || AwaitLine(L"Service successfully started!"));
}

bool ServiceRig::AwaitLine(const std::wstring& line, int count) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kRealTimeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int seen = 0;
        for (const std::wstring& l : LogLines()) {
            seen += l == line ? 1 : 0;
        }
        if (seen >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

std::vector<Report> ServiceRig::Reports() const {
    std::vector<Report> reports;
    for (const platform::ServiceStatus& s : host.reports()) {
        EXPECT_EQ(s.serviceType, 0x10u);  // SERVICE_WIN32_OWN_PROCESS
        reports.push_back(Report{s.currentState, s.controlsAccepted, s.checkPoint, s.waitHint,
                                 s.win32ExitCode, s.serviceSpecificExitCode});
    }
    return reports;
}

std::vector<std::wstring> ServiceRig::LogLines(bool steps) {
    while (LogFlush(false)) {
        std::this_thread::yield();
    }
    std::vector<std::wstring> lines;
    for (std::wstring& line : ::LogLines(DecodeUtf16Le(files.Contents(kLogPath), 2))) {
        if (!steps || (line.rfind(L"Send: ", 0) != 0 && line.rfind(L"Rcvd: ", 0) != 0 &&
                       line.rfind(L"      ", 0) != 0)) {
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

}  // namespace service_test
