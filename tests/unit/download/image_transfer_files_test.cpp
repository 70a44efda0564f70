// Image files of the build's own platform (Win32 under Wine, POSIX on the host) on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "download/image_transfer.h"
#include "download/serial_port.h"
#include "load_to_port_test_card.h"
#include "platform/images.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

namespace fs = std::filesystem;
using download_test::Bytes;

class ImageFilesNativeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ = fs::temp_directory_path() / (std::string("dovrand-images-") + info->name());
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        ASSERT_TRUE(fs::create_directories(folder_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::wstring Write(const char* name, const Bytes& bytes) {
        const fs::path path = folder_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
        EXPECT_TRUE(out.good());
        return path.wstring();
    }

    platform::ImageFiles& images() { return *platform::Native().images; }

    fs::path folder_;
};

TEST_F(ImageFilesNativeTest, MapsTheFirstBytesReadOnly) {
    const Bytes bytes = download_test::ImageBytes(100000, 1);
    const std::wstring path = Write("AMSS.mbn", bytes);
    // Another handle that writes to the file does not keep the image from opening.
    std::ofstream writer(fs::path(path), std::ios::binary | std::ios::app);
    ASSERT_TRUE(writer.is_open());

    platform::ErrorCode error = 0;
    std::unique_ptr<platform::ImageFile> file = images().Open(path, &error);
    ASSERT_TRUE(file) << error;
    uint64_t size = 0;
    ASSERT_EQ(file->GetSize(&size), 0u);
    EXPECT_EQ(size, 100000u);
    std::unique_ptr<platform::ImageMapping> mapping = file->CreateMapping(99992, &error);
    ASSERT_TRUE(mapping) << error;
    std::unique_ptr<platform::ImageView> view = mapping->MapView(99992, &error);
    ASSERT_TRUE(view) << error;
    // The view stays readable after its mapping and its file are closed.
    mapping.reset();
    file.reset();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end() - 8, view->Data()));
}

TEST_F(ImageFilesNativeTest, RefusesWhatCannotBeMapped) {
    platform::ErrorCode error = 0;
    EXPECT_FALSE(images().Open((folder_ / "missing.mbn").wstring(), &error));
    EXPECT_NE(error, 0u);
    error = 0;
    EXPECT_FALSE(images().Open(folder_.wstring(), &error)) << "a folder is no image file";
    EXPECT_NE(error, 0u);

    const std::wstring path = Write("APPS.mbn", download_test::ImageBytes(10, 2));
    std::unique_ptr<platform::ImageFile> file = images().Open(path, &error);
    ASSERT_TRUE(file);
    error = 0;
    EXPECT_FALSE(file->CreateMapping(11, &error)) << "a read-only mapping past the end";
    EXPECT_NE(error, 0u);

    const std::wstring empty = Write("UQCN.mbn", {});
    file = images().Open(empty, &error);
    ASSERT_TRUE(file);
    uint64_t size = 1;
    ASSERT_EQ(file->GetSize(&size), 0u);
    EXPECT_EQ(size, 0u);
    error = 0;
    EXPECT_FALSE(file->CreateMapping(0, &error)) << "an empty file cannot be mapped";
    EXPECT_NE(error, 0u);
}

// A sparse file of more than 4 GiB: its whole size is seen, and the image step refuses it
// instead of announcing its size cut to 32 bits.
TEST_F(ImageFilesNativeTest, HugeSparseFileIsRefused) {
    const fs::path path = folder_ / "AMSS.mbn";
    { std::ofstream(path, std::ios::binary).put('x'); }
    std::error_code failed;
    fs::resize_file(path, 0x100000000ull + 108, failed);
    if (failed) {
        GTEST_SKIP() << "no sparse file here: " << failed.message();
    }
    platform::ErrorCode error = 0;
    std::unique_ptr<platform::ImageFile> file = images().Open(path.wstring(), &error);
    ASSERT_TRUE(file) << error;
    uint64_t size = 0;
    ASSERT_EQ(file->GetSize(&size), 0u);
    EXPECT_EQ(size, 0x100000000ull + 108);
    file.reset();

    LogCapture log;  // over the native image files
    cSerialPort port;
    const std::wstring name = path.wstring();
    ImageTransfer t(port, kImageTypeAmss, 8, name);
    EXPECT_FALSE(OpenImage(t));
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{L"Too large file " + name +
                                                     L": images of 2 GiB or more are not "
                                                     L"supported"});
    EXPECT_FALSE(t.file);
    EXPECT_EQ(t.imageSize, 0u);
}

}  // namespace
