// The log on the build's own platform (Win32 under Wine, POSIX on the host) and real files: what
// each platform reports of a hard link and a linked folder is what the open decides on.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "log/log.h"
#include "log/start_keys.h"
#include "platform/platform.h"
#include "platform/sync.h"

namespace {

namespace fs = std::filesystem;

class LogNativeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / (std::string("dovrand-log-") + info->name());
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        ASSERT_TRUE(fs::create_directories(folder_ / "logs"));
        SetLogEnabled(true);
    }
    void TearDown() override {
        LogClose(platform::kInfinite);
        SetLogEnabled(false);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static void Write(const fs::path& path, const char* text) {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }

    fs::path folder_;
};

TEST_F(LogNativeTest, HardLinkedLogIsRefusedAndItsTargetUntouched) {
    Write(folder_ / "target.txt", "mine");
    std::error_code error;
    fs::create_hard_link(folder_ / "target.txt", folder_ / "logs" / "Dovrand.log", error);
    ASSERT_FALSE(error) << error.message();

    LogRefusal refusal;
    EXPECT_EQ(LogOpen(L"Dovrand", (folder_ / "logs").wstring().c_str(), &refusal),
              static_cast<int32_t>(0x80070005));
    EXPECT_EQ(refusal.reason, L"the file has more than one link (a hard link to another file)");
    EXPECT_NE(refusal.path.find(L"Dovrand.log"), std::wstring::npos);
    EXPECT_FALSE(LogIsOpen());
    LogWrite(L"dropped");
    EXPECT_EQ(Read(folder_ / "target.txt"), "mine");
}

TEST_F(LogNativeTest, LinkedFolderIsRefused) {
    std::error_code error;
    fs::create_directory_symlink(folder_ / "logs", folder_ / "linked", error);
    if (error) {
        GTEST_SKIP() << "no symbolic link can be made here: " << error.message();
    }
    LogRefusal refusal;
    EXPECT_EQ(LogOpen(L"Dovrand", (folder_ / "linked").wstring().c_str(), &refusal),
              static_cast<int32_t>(0x80070005));
    EXPECT_EQ(refusal.reason,
              L"the folder is a reparse point (a junction or a link to another folder)");
    EXPECT_FALSE(fs::exists(folder_ / "logs" / "Dovrand.log"));
}

TEST_F(LogNativeTest, FileOfItsOwnIsOpenedAndAFolderMade) {
    Write(folder_ / "logs" / "Dovrand.log", "ab");
    ASSERT_EQ(LogOpen(L"Dovrand", (folder_ / "logs").wstring().c_str()), 0);
    LogClose(platform::kInfinite);
    EXPECT_EQ(Read(folder_ / "logs" / "Dovrand.log").substr(0, 10),
              std::string("ab\r\0\n\0\r\0\n\0", 10));

    ASSERT_EQ(LogOpen(L"Dovrand", (folder_ / "new").wstring().c_str()), 0);
    LogClose(platform::kInfinite);
    EXPECT_EQ(Read(folder_ / "new" / "Dovrand.log"), std::string("\xFF\xFE\r\0\n\0\r\0\n\0", 10));
}

}  // namespace
