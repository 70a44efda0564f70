// The build's own registry, device-interface, text-file and shell-folder adapters, run for real:
// the POSIX ones on the host, the Win32 ones under Wine (or Windows).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text_files.h"

#ifdef _WIN32
#include "platform/files.h"
#include "platform/win32/devices_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/text_files_win32.h"
#else
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "discovery/device_match.h"
#include "discovery/device_search.h"
#include "discovery/port_name.h"
#include "platform/platform.h"
#include "platform/posix/devices_posix.h"
#include "platform/posix/registry_posix.h"
#include "platform/posix/text_files_posix.h"
#endif

namespace {

std::string ReadAll(platform::TextFile& file) {
    std::string text;
    char chunk[3];
    for (;;) {
        uint32_t read = 0;
        EXPECT_EQ(file.Read(chunk, sizeof(chunk), &read), 0u);
        if (read == 0) {
            return text;
        }
        text.append(chunk, read);
    }
}

#ifndef _WIN32

// A folder of its own under /tmp, removed with everything in it at the end; sets an environment
// variable to it for the test's lifetime.
class TempFolder {
  public:
    explicit TempFolder(const char* variable = nullptr) : variable_(variable) {
        char name[] = "/tmp/dovrand-discovery-XXXXXX";
        path_ = mkdtemp(name);
        if (variable_ != nullptr) {
            setenv(variable_, path_.c_str(), 1);
        }
    }
    ~TempFolder() {
        if (variable_ != nullptr) {
            unsetenv(variable_);
        }
        std::system(("rm -rf '" + path_ + "'").c_str());
    }
    const std::string& path() const { return path_; }

    void Write(const std::string& relative, const std::string& bytes) const {
        std::system(("mkdir -p \"$(dirname '" + path_ + "/" + relative + "')\"").c_str());
        std::ofstream(path_ + "/" + relative, std::ios::binary) << bytes;
    }

  private:
    const char* variable_;
    std::string path_;
};

TEST(PosixTextFilesTest, ReadsAndSeeksAFileAtItsHostPath) {
    TempFolder folder;
    folder.Write("options.txt", "abcdefg");
    platform::posix::PosixTextFiles files;
    platform::ErrorCode error = 0;
    std::wstring path(folder.path().begin(), folder.path().end());
    auto file = files.OpenForReading(path + L"\\options.txt", &error);
    ASSERT_NE(file, nullptr) << error;
    EXPECT_EQ(ReadAll(*file), "abcdefg");
    EXPECT_EQ(file->Seek(2), 0u);
    EXPECT_EQ(ReadAll(*file), "cdefg");

    EXPECT_EQ(files.OpenForReading(path + L"\\missing.txt", &error), nullptr);
    EXPECT_EQ(error, platform::error::kFileNotFound);
    EXPECT_EQ(files.OpenForReading(path, &error), nullptr);
    EXPECT_EQ(error, platform::error::kAccessDenied);

    std::wstring wide;
    EXPECT_EQ(files.WidenAnsi("a\xe4\x80\x81", 4, &wide), 0u);
    EXPECT_EQ(wide, L"a\u00e4\u20ac\u0081");
}

TEST(PosixRegistryTest, ReadsValuesFromTheRegistryFolder) {
    TempFolder folder("DOVRAND_REGISTRY");
    folder.Write("HKLM/SYSTEM/Key One/Value", std::string("C\0O\0M\0"
                                                          "7\0\0\0",
                                                          10));
    platform::posix::PosixRegistry registry;
    platform::ErrorCode error = 0;
    auto key = registry.OpenLocalMachineKey(L"SYSTEM\\Key One", &error);
    ASSERT_NE(key, nullptr);
    uint8_t buffer[16] = {};
    uint32_t size = sizeof(buffer);
    EXPECT_EQ(key->QueryValue(L"Value", buffer, &size), 0u);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), size), std::string("C\0O\0M\0"
                                                                              "7\0\0\0",
                                                                              10));
    size = 4;
    EXPECT_EQ(key->QueryValue(L"Value", buffer, &size), platform::error::kMoreData);
    EXPECT_EQ(size, 10u);
    size = sizeof(buffer);
    EXPECT_EQ(key->QueryValue(L"Missing", buffer, &size), platform::error::kFileNotFound);

    EXPECT_EQ(registry.OpenLocalMachineKey(L"SYSTEM\\Key Two", &error), nullptr);
    EXPECT_EQ(error, platform::error::kFileNotFound);
}

TEST(PosixDeviceInterfacesTest, ListsTheFilesOfTheDevicesFolderInNameOrder) {
    platform::posix::PosixDeviceInterfaces devices;
    platform::ErrorCode error = 0;
    uint32_t flags = 0;
    {
        auto none = devices.OpenPresentComPorts(&error);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->Enumerate(0, &flags), platform::error::kNoMoreItems);
    }
    TempFolder folder("DOVRAND_DEVICES");
    folder.Write("b", "\\\\?\\usb#second\r\nignored\n");
    folder.Write("a", "\\\\?\\acpi#first");
    auto set = devices.OpenPresentComPorts(&error);
    ASSERT_NE(set, nullptr);
    std::wstring path;
    ASSERT_EQ(set->Enumerate(0, &flags), 0u);
    EXPECT_EQ(flags, platform::kInterfaceActive);
    EXPECT_EQ(set->DevicePath(&path), 0u);
    EXPECT_EQ(path, L"\\\\?\\acpi#first");
    ASSERT_EQ(set->Enumerate(1, &flags), 0u);
    EXPECT_EQ(set->DevicePath(&path), 0u);
    EXPECT_EQ(path, L"\\\\?\\usb#second");
    EXPECT_EQ(set->Enumerate(2, &flags), platform::error::kNoMoreItems);
}

TEST(PosixDeviceInterfacesTest, FindACardAndItsPortThroughTheHostAdapters) {
    TempFolder devicesFolder("DOVRAND_DEVICES");
    TempFolder registryFolder("DOVRAND_REGISTRY");
    devicesFolder.Write(
        "card", "\\\\?\\usb#vid_05c6&pid_9204#6&1a2b&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");
    registryFolder.Write(
        "HKLM/SYSTEM/CurrentControlSet/Enum/USB/vid_05c6&pid_9204/6&1a2b&0&2/Device "
        "Parameters/PortName",
        std::string("C\0O\0M\0"
                    "7\0\0\0",
                    10));
    platform::posix::PosixDeviceInterfaces devices;
    platform::posix::PosixRegistry registry;
    platform::Platform p = platform::Get();
    p.devices = &devices;
    p.registry = &registry;
    platform::ScopedPlatform use(p);

    DeviceMatch match;
    ASSERT_TRUE(FindGobiDevice(match));
    EXPECT_EQ(match.Reference, -16);
    std::wstring port;
    ASSERT_TRUE(GetQdlPortName(match, &port));
    EXPECT_EQ(port, L"COM7");
}

#else

TEST(Win32ShellFoldersTest, FindsTheCommonFolders) {
    platform::win32::Win32ShellFolders folders;
    std::wstring folder;
    EXPECT_EQ(folders.CommonAppData(&folder), 0u);
    EXPECT_EQ(folder, L"C:\\ProgramData");
    EXPECT_EQ(folders.ProgramFiles(&folder), 0u);
    EXPECT_EQ(folder.rfind(L"C:\\Program Files", 0), 0u) << folder.c_str();
}

TEST(Win32TextFilesTest, ReadsAndSeeksAFile) {
    platform::win32::Win32ShellFolders folders;
    platform::win32::Win32FileSystem fileSystem;
    std::wstring folder;
    ASSERT_EQ(folders.CommonAppData(&folder), 0u);
    const std::wstring path = folder + L"\\dovrand-discovery-test.txt";
    _wremove(path.c_str());
    {
        platform::ErrorCode error = 0;
        auto out = fileSystem.OpenForAppend(path, &error);
        ASSERT_NE(out, nullptr) << error;
        uint32_t written = 0;
        ASSERT_EQ(out->Write("abcdefg", 7, &written), 0u);
    }
    platform::win32::Win32TextFiles files;
    platform::ErrorCode error = 0;
    {
        auto file = files.OpenForReading(path, &error);
        ASSERT_NE(file, nullptr) << error;
        // Other readers and writers are allowed while the file is open.
        auto second = fileSystem.OpenForAppend(path, &error);
        EXPECT_NE(second, nullptr) << error;
        EXPECT_EQ(ReadAll(*file), "abcdefg");
        EXPECT_EQ(file->Seek(2), 0u);
        EXPECT_EQ(ReadAll(*file), "cdefg");
    }
    EXPECT_EQ(_wremove(path.c_str()), 0);
    EXPECT_EQ(files.OpenForReading(path, &error), nullptr);
    EXPECT_EQ(error, platform::error::kFileNotFound);

    std::wstring wide;
    EXPECT_EQ(files.WidenAnsi("C:\\fw\\amss.mbn", 14, &wide), 0u);
    EXPECT_EQ(wide, L"C:\\fw\\amss.mbn");
    EXPECT_EQ(files.WidenAnsi("", 0, &wide), 0u);
    EXPECT_EQ(wide, L"");
}

TEST(Win32RegistryTest, ReadsAValueOfALocalMachineKey) {
    platform::win32::Win32Registry registry;
    platform::ErrorCode error = 0;
    auto key =
        registry.OpenLocalMachineKey(L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", &error);
    ASSERT_NE(key, nullptr) << error;
    uint8_t buffer[520] = {};
    uint32_t size = sizeof(buffer);
    EXPECT_EQ(key->QueryValue(L"CurrentVersion", buffer, &size), 0u);
    EXPECT_GT(size, 2u);
    uint32_t small = 2;
    EXPECT_EQ(key->QueryValue(L"CurrentVersion", buffer, &small), platform::error::kMoreData);
    EXPECT_EQ(small, size);
    size = sizeof(buffer);
    EXPECT_EQ(key->QueryValue(L"NoSuchValue", buffer, &size), platform::error::kFileNotFound);

    EXPECT_EQ(registry.OpenLocalMachineKey(L"SOFTWARE\\NoSuchKey\\Dovrand", &error), nullptr);
    EXPECT_EQ(error, platform::error::kFileNotFound);
}

TEST(Win32DeviceInterfacesTest, EnumeratesThePresentComPortsToTheEnd) {
    platform::win32::Win32DeviceInterfaces devices;
    platform::ErrorCode error = 0;
    auto set = devices.OpenPresentComPorts(&error);
    ASSERT_NE(set, nullptr) << error;
    uint32_t index = 0;
    uint32_t flags = 0;
    while (set->Enumerate(index, &flags) == 0) {
        std::wstring path;
        EXPECT_EQ(set->DevicePath(&path), 0u);
        EXPECT_FALSE(path.empty());
        ++index;
        ASSERT_LT(index, 1000u);
    }
    EXPECT_EQ(set->Enumerate(index, &flags), platform::error::kNoMoreItems);
}

#endif

}  // namespace
