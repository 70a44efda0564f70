#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/load_attempt.h"
#include "fakes/devices_fake.h"
#include "fakes/registry_fake.h"
#include "fakes/shell_fake.h"
#include "fakes/text_files_fake.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

const std::wstring kClass = L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::wstring kInstance = L"#6&1a2b3c4d&0&2";
const std::wstring kLenovoKey =
    L"SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_05c6&pid_9204\\6&1a2b3c4d&0&2\\Device Parameters";
const std::wstring kLenovoOptions = L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kLenovo.txt";

std::vector<uint8_t> Utf16File(const std::wstring& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

struct Preparation {
    const char* name;
    std::wstring device;  // the present interface, empty for none
    bool portName;        // whether the registry holds the card's PortName
    bool optionsFile;     // whether the Lenovo options file exists
    bool noPreference;
    LoadPreparation result;
    std::vector<std::wstring> lines;
};

class PrepareLoadTest : public testing::TestWithParam<Preparation> {};

TEST_P(PrepareLoadTest, StepsAndLines) {
    const Preparation& c = GetParam();
    platform::fake::FakeDeviceInterfaces devices;
    platform::fake::FakeRegistry registry;
    platform::fake::FakeTextFiles textFiles;
    platform::fake::FakeShellFolders folders;
    if (!c.device.empty()) {
        devices.Add(c.device);
    }
    if (c.portName) {
        registry.SetString(kLenovoKey, L"PortName", L"COM7");
    }
    if (c.optionsFile) {
        textFiles.AddFile(kLenovoOptions, Utf16File(L"c:\\fw\\amss.mbn\r\nc:\\fw\\apps.mbn\r\n"
                                                    L"c:\\fw\\uqcn.mbn\r\n"));
    }
    platform::Platform p = platform::Get();
    p.devices = &devices;
    p.registry = &registry;
    p.textFiles = &textFiles;
    p.folders = &folders;
    platform::ScopedPlatform use(p);
    LogCapture log;

    DeviceMatch device;
    std::wstring port;
    FirmwareFileSet files;
    EXPECT_EQ(PrepareLoad(device, c.noPreference, &port, &files), c.result);
    EXPECT_EQ(log.Lines(), c.lines);
    if (c.result == LoadPreparation::kReady) {
        EXPECT_EQ(port, L"COM7");
        EXPECT_EQ(files.Amss, L"C:\\FW\\AMSS.MBN");
        EXPECT_EQ(files.Apps, L"C:\\FW\\APPS.MBN");
        EXPECT_EQ(files.Uqcn, L"C:\\FW\\UQCN.MBN");
        EXPECT_EQ(files.Vendor, L"Lenovo");
        EXPECT_EQ(files.Generation, 2);
        EXPECT_EQ(files.UsePreference, !c.noPreference);
        EXPECT_TRUE(files.LocalImagesOnly);  // paths from a file others may write
    }
}

const std::wstring kFound = L"Lenovo: Qualcomm Gobi 2000 HS-USB (Gobi 2000) found.";
const std::wstring kDownload = L"\\\\?\\usb#vid_05c6&pid_9204" + kInstance + kClass;

INSTANTIATE_TEST_SUITE_P(
    Cases, PrepareLoadTest,
    testing::Values(
        Preparation{"NoCard",
                    L"",
                    true,
                    true,
                    false,
                    LoadPreparation::kFailed,
                    {L"No Qualcomm Gobi devices found."}},
        Preparation{"ModemMode",
                    L"\\\\?\\usb#vid_05c6&pid_9205" + kInstance + kClass,
                    true,
                    true,
                    false,
                    LoadPreparation::kAlreadyLoaded,
                    {kFound, L"Firmware is already loaded."}},
        Preparation{"CompositeDevice",
                    L"\\\\?\\usb#vid_05c6&pid_9204&mi_00" + kInstance + kClass,
                    true,
                    true,
                    false,
                    LoadPreparation::kFailed,
                    {kFound, L"Unable to find Gobi QDLoader COM port."}},
        Preparation{"NoPortName",
                    kDownload,
                    false,
                    true,
                    false,
                    LoadPreparation::kFailed,
                    {kFound, L"Unable to find Gobi QDLoader COM port."}},
        Preparation{"NoOptionsFile",
                    kDownload,
                    true,
                    false,
                    false,
                    LoadPreparation::kFailed,
                    {kFound, L"QDLoader port is COM7.", L"Reading " + kLenovoOptions,
                     L"Unable to open options file: " + kLenovoOptions,
                     L"Error reading firmware filenames (from txt files)."}},
        Preparation{"Ready",
                    kDownload,
                    true,
                    true,
                    false,
                    LoadPreparation::kReady,
                    {kFound, L"QDLoader port is COM7.", L"Reading " + kLenovoOptions,
                     L"Default Amss: C:\\FW\\AMSS.MBN", L"Default Apps: C:\\FW\\APPS.MBN",
                     L"Default Uqcn: C:\\FW\\UQCN.MBN"}},
        Preparation{"ReadyWithoutPreference",
                    kDownload,
                    true,
                    true,
                    true,
                    LoadPreparation::kReady,
                    {kFound, L"QDLoader port is COM7.", L"Reading " + kLenovoOptions,
                     L"Default Amss: C:\\FW\\AMSS.MBN", L"Default Apps: C:\\FW\\APPS.MBN",
                     L"Default Uqcn: C:\\FW\\UQCN.MBN"}}),
    [](const testing::TestParamInfo<Preparation>& info) { return info.param.name; });

TEST(PrepareLoadRememberedTest, RememberedCardIsNotSearchedAgain) {
    platform::fake::FakeDeviceInterfaces devices;
    platform::Platform p = platform::Get();
    p.devices = &devices;
    platform::ScopedPlatform use(p);
    LogCapture log;

    DeviceMatch device;
    device.Reference = 16;
    std::wstring port;
    FirmwareFileSet files;
    EXPECT_EQ(PrepareLoad(device, false, &port, &files), LoadPreparation::kAlreadyLoaded);
    EXPECT_EQ(devices.script().Calls("SetupDiGetClassDevsW"), 0);
}

}  // namespace
