// The Windows build's own registry, device-interface, text-file and shell-folder adapters, run
// for real under Wine (or Windows). The host build has none of them.
#include <gtest/gtest.h>

#ifdef _WIN32

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/text_files.h"
#include "platform/win32/devices_win32.h"
#include "platform/win32/files_win32.h"
#include "platform/win32/registry_win32.h"
#include "platform/win32/shell_win32.h"
#include "platform/win32/text_files_win32.h"

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
        auto out = fileSystem.OpenForAppend(path, nullptr, &error);
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
        auto second = fileSystem.OpenForAppend(path, nullptr, &error);
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

}  // namespace

#endif
