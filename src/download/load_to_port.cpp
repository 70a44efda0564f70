#include "download/load_to_port.h"

#include <string>

#include "download/frame.h"
#include "download/image_transfer.h"
#include "download/serial_port.h"
#include "log/log.h"
#include "platform/ascii_case.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/shell.h"

namespace {

constexpr size_t kInitialAnswerSize = 49;
constexpr size_t kPreferenceOffset = 25;

// Makes a port the current port for the lifetime of this object, so that a cancel from the
// service reaches it; clears it again before the port is closed.
class CurrentPortScope {
  public:
    CurrentPortScope(cSerialPort& port, uint32_t ticket) { SetCurrentPort(&port, ticket); }
    ~CurrentPortScope() { SetCurrentPort(nullptr); }
    CurrentPortScope(const CurrentPortScope&) = delete;
    CurrentPortScope& operator=(const CurrentPortScope&) = delete;
};

bool RunSteps(cSerialPort& port, const std::wstring& portName, FirmwareFileSet& files) {
    const std::wstring deviceName = portName + L"\\QDLService";
    port.Open(deviceName.c_str());
    if (!port.IsOpen()) {
        LogWrite(L"Unable to open port: %ls", portName.c_str());
        return false;
    }
    const bool loaded = SendInitialMessage(port, files) && SendAmss(files, port) &&
                        SendApps(files, port) && (files.Generation != 2 || SendUqcn(files, port)) &&
                        SendFinalMessage(port);
    if (loaded) {
        LogWrite(L"Firmware loading completed!");
    }
    return loaded;
}

// A path of the maker's image folder, or empty when it would not fit in a path buffer.
std::wstring ImagePath(const std::wstring& base, const std::wstring& folder, const wchar_t* name) {
    std::wstring path = base + L"\\" + folder + L"\\" + name;
    if (path.size() > platform::kMaxPath - 1) {
        path.clear();
    }
    return path;
}

bool Exists(const std::wstring& path) {
    platform::FileSystem* files = platform::Get().files;
    return !path.empty() && files != nullptr && files->PathExists(path);
}

// The first of the candidates that exists, or empty.
std::wstring FirstExisting(const std::wstring& first, const std::wstring& second) {
    if (Exists(first)) {
        return first;
    }
    return Exists(second) ? second : std::wstring();
}

}  // namespace

bool LoadToPort(const std::wstring& portName, FirmwareFileSet& files) {
    return LoadToPort(portName, files, CancelTicket());
}

bool LoadToPort(const std::wstring& portName, FirmwareFileSet& files, uint32_t ticket) {
    cSerialPort port;
    bool loaded = false;
    {
        const CurrentPortScope current(port, ticket);
        loaded = RunSteps(port, portName, files);
    }
    port.Close();
    return loaded;
}

bool SendInitialMessage(cSerialPort& port, FirmwareFileSet& files) {
    static constexpr char kProtocol[] = "QCOM high speed protocol hst";
    uint8_t message[36] = {0x01};
    for (size_t i = 0; i + 1 < sizeof kProtocol; ++i) {
        message[1 + i] = static_cast<uint8_t>(kProtocol[i]);
    }
    const uint8_t version = files.Generation == 1 ? 0x04 : 0x05;
    message[33] = version;
    message[34] = version;
    message[35] = 0x30;
    if (!port.IsOpen() || !SendFramedMessage(port, message, sizeof message)) {
        LogWrite(L"Error sending initial message.");
        return false;
    }

    uint8_t answer[kInitialAnswerSize] = {};
    if (!port.ReceiveWithCRC(sizeof answer, answer)) {
        LogWrite(L"Error receiving answer for initial message.");
        return false;
    }
    if (answer[0] != 0x02) {
        LogWrite(L"Recieved wrong answer for initial message.");
        return false;
    }
    LogWrite(L"Initial Message - OK");

    if (files.Generation == 2) {
        if (!files.UsePreference) {
            LogWrite(L"Gobi firmware preference skipped.");
        } else {
            const uint8_t* p = answer + kPreferenceOffset;
            const int32_t preference = static_cast<int32_t>(
                static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
            if (preference >= 0) {
                LogWrite(L"Gobi firmware preference is # %d", preference);
                // Without the preferred images the paths from the options files stay.
                ApplyFirmwarePreference(preference, files);
            } else {
                LogWrite(L"Gobi firmware preference is \"Default\"");
            }
        }
    }
    return true;
}

bool ApplyFirmwarePreference(int32_t p, FirmwareFileSet& files) {
    // The host build has no shell folders (null): there the images given stay, as on Windows
    // when Program Files is not found.
    platform::ShellFolders* folders = platform::Get().folders;
    std::wstring programFiles;
    if (folders == nullptr || folders->ProgramFiles(&programFiles) != platform::error::kSuccess) {
        LogWrite(L"cFirmwareLoader::ReadFileNames: SHGetFolderPath(CSIDL_PROGRAM_FILES) -> error");
        return false;
    }
    const std::wstring base = programFiles + L"\\QUALCOMM\\Images\\" + files.Vendor;
    const std::wstring number = std::to_wstring(p);

    const std::wstring uqcn = ImagePath(base, number, L"UQCN.mbn");
    if (!Exists(uqcn)) {
        return false;
    }
    const std::wstring amss =
        FirstExisting(ImagePath(base, number, L"AMSS.mbn"), ImagePath(base, L"UMTS", L"AMSS.mbn"));
    if (amss.empty()) {
        return false;
    }
    const std::wstring apps =
        FirstExisting(ImagePath(base, number, L"APPS.mbn"), ImagePath(base, L"UMTS", L"APPS.mbn"));
    if (apps.empty()) {
        return false;
    }

    files.Uqcn = uqcn;
    files.Amss = amss;
    files.Apps = apps;
    UpperCaseAscii(files.Uqcn);
    UpperCaseAscii(files.Amss);
    UpperCaseAscii(files.Apps);
    LogWrite(L"Amss: %ls", files.Amss.c_str());
    LogWrite(L"Apps: %ls", files.Apps.c_str());
    LogWrite(L"Uqcn: %ls", files.Uqcn.c_str());
    return true;
}

bool SendFinalMessage(cSerialPort& port) {
    const uint8_t message[9] = {0x29, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!port.IsOpen() || !SendFramedMessage(port, message, sizeof message)) {
        LogWrite(L"Error sending final message.");
        return false;
    }
    LogWrite(L"Final Message - OK");
    return true;
}
