#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/image_transfer.h"
#include "load_to_port_test_card.h"

namespace {

using download_test::Bytes;
using download_test::Card;
using platform::fake::FakeIo;

const std::wstring kPath = L"C:\\fw\\IMAGE.mbn";

FirmwareFileSet Files() {
    FirmwareFileSet files;
    files.Amss = kPath;
    files.Apps = kPath;
    files.Uqcn = kPath;
    return files;
}

// An open port on the fake card, with the image steps' lines after its opening line.
class ImageTransferTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(port_.Open(L"COM7\\QDLService")); }

    // The log after the port's opening line, without frame traces.
    std::vector<std::wstring> Steps() {
        std::vector<std::wstring> steps = card_.Steps();
        EXPECT_FALSE(steps.empty());
        if (!steps.empty()) {
            EXPECT_EQ(steps.front(), L"Port COM7\\QDLService is opened.");
            steps.erase(steps.begin());
        }
        return steps;
    }

    void ExpectReleased() {
        EXPECT_EQ(card_.images().OpenFiles(), 0);
        EXPECT_EQ(card_.images().OpenMappings(), 0);
        EXPECT_EQ(card_.images().OpenViews(), 0);
    }

    Card card_;
    cSerialPort port_;
};

TEST_F(ImageTransferTest, AmssIsSentWithoutItsTrailerInBlocksOf256KiB) {
    const Bytes file = download_test::ImageBytes(1000008, 1);
    card_.images().AddFile(kPath, file);
    card_.serial().Arrive(download_test::PreFirmwareAnswer());
    card_.serial().Arrive(download_test::PostFirmwareResponse());

    ASSERT_TRUE(SendAmss(Files(), port_));

    const std::vector<Bytes> writes = card_.Writes();
    ASSERT_EQ(writes.size(), 2u + 2 * 4);
    EXPECT_EQ(writes[0], download_test::PreFirmware1(5, 1000000));
    EXPECT_EQ(writes[1], download_test::PreFirmware2(1000000));
    const size_t sizes[] = {262144, 262144, 262144, 213568};
    size_t offset = 0;
    for (size_t i = 0; i < 4; ++i) {
        const Bytes& block = writes[2 + 2 * i];
        ASSERT_EQ(block.size(), sizes[i]);
        EXPECT_TRUE(std::equal(block.begin(), block.end(), file.begin() + offset)) << i;
        EXPECT_TRUE(writes[3 + 2 * i].empty()) << "a zero-byte write follows block " << i;
        offset += sizes[i];
    }
    EXPECT_EQ(offset, 1000000u);  // the last 8 bytes of the file never went out
    EXPECT_EQ(card_.images().MappingSizes(), std::vector<uint32_t>{1000000});
    EXPECT_EQ(card_.images().ViewSizes(), std::vector<uint32_t>{1000000});

    EXPECT_EQ(Steps(), (std::vector<std::wstring>{
                           L"Sending AMSS...",
                           L"C:\\fw\\IMAGE.mbn is opened.",
                           L"Image size is 1000000 bytes.",
                           L"PreFirmware messages - OK",
                           L"Sending Firmware Image.",
                           L"Sending block of 262144 bytes [0 / 1000000]",
                           L"Sending block of 262144 bytes [262144 / 1000000]",
                           L"Sending block of 262144 bytes [524288 / 1000000]",
                           L"Sending block of 213568 bytes [786432 / 1000000]",
                           L"Image sending completed.",
                           L"PostFirmware response - OK",
                           L"Sending AMSS completed!",
                       }));
    ExpectReleased();
}

TEST_F(ImageTransferTest, PreFirmwareMessagesOnTheLine) {
    // An AMSS image of 1193046 bytes (0x123456).
    card_.images().AddFile(kPath, download_test::ImageBytes(1193046 + 8, 2));
    card_.serial().Arrive(download_test::PreFirmwareAnswer());
    card_.serial().Arrive(download_test::PostFirmwareResponse());

    ASSERT_TRUE(SendAmss(Files(), port_));

    const std::vector<Bytes> writes = card_.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0], (Bytes{0x7E, 0x25, 0x05, 0x56, 0x34, 0x12, 0x00, 0x01, 0x00, 0x00, 0x00,
                                0x04, 0x00, 0x00, 0xE7, 0xF6, 0x7E}));
    EXPECT_EQ(writes[1], (Bytes{0x27, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x56, 0x34, 0x12, 0x00,
                                0xDA, 0x90}));
    // The exchange is traced: PreFirmware message 1 and both replies, never the data.
    const std::vector<std::wstring> lines = card_.Lines();
    const auto pre1 = std::find(lines.begin(), lines.end(),
                                L"Send: 7E 25 05 56 34 12 00 01 00 00 00 04 00 00 E7 F6");
    ASSERT_NE(pre1, lines.end());
    ASSERT_NE(pre1 + 1, lines.end());
    EXPECT_EQ(pre1[1], L"      7E ");
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), L"Send: 27 00 00 00 00 00 00 56 34 12 00 DA 90 "),
        lines.end());
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& l) { return l.rfind(L"Rcvd: ", 0) == 0; }),
              2);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::wstring& l) { return l.rfind(L"Send: ", 0) == 0; }),
              2);
}

TEST_F(ImageTransferTest, SizeBytesThatLookLikeFlagsGoOutUnchanged) {
    const uint32_t size = 0x7E7D10;
    card_.images().AddFile(kPath, download_test::ImageBytes(size, 3));
    card_.serial().Arrive(download_test::PreFirmwareAnswer());
    card_.serial().Arrive(download_test::PostFirmwareResponse());

    ASSERT_TRUE(SendApps(Files(), port_));

    const std::vector<Bytes> writes = card_.Writes();
    ASSERT_GE(writes.size(), 2u);
    EXPECT_EQ(writes[0], download_test::PreFirmware1(6, size));
    EXPECT_EQ(Bytes(writes[0].begin() + 3, writes[0].begin() + 7), (Bytes{0x10, 0x7D, 0x7E, 0x00}));
    EXPECT_EQ(writes[1], download_test::PreFirmware2(size));
    EXPECT_EQ(writes[1].size(), 13u);
}

TEST_F(ImageTransferTest, EachStepSendsItsTypeCodeAndTrailer) {
    const struct {
        bool (*step)(const FirmwareFileSet&, cSerialPort&);
        uint8_t type;
        uint32_t sent;  // of a 300000-byte file
        const wchar_t* name;
    } steps[] = {
        {SendAmss, 5, 299992, L"AMSS"},
        {SendApps, 6, 300000, L"APPS"},
        {SendUqcn, 13, 300000, L"UQCN"},
    };
    card_.images().AddFile(kPath, download_test::ImageBytes(300000, 4));
    for (const auto& s : steps) {
        card_.serial().Arrive(download_test::PreFirmwareAnswer());
        card_.serial().Arrive(download_test::PostFirmwareResponse());
        const size_t before = card_.Writes().size();
        ASSERT_TRUE(s.step(Files(), port_)) << s.name;
        const std::vector<Bytes> writes = card_.Writes();
        ASSERT_EQ(writes.size(), before + 6) << s.name;
        EXPECT_EQ(writes[before], download_test::PreFirmware1(s.type, s.sent)) << s.name;
        EXPECT_EQ(writes[before + 2].size() + writes[before + 4].size(), s.sent) << s.name;
    }
    const std::vector<std::wstring> steps_logged = Steps();
    for (const wchar_t* name : {L"AMSS", L"APPS", L"UQCN"}) {
        const std::wstring opening = std::wstring(L"Sending ") + name + L"...";
        const std::wstring success = std::wstring(L"Sending ") + name + L" completed!";
        EXPECT_NE(std::find(steps_logged.begin(), steps_logged.end(), opening), steps_logged.end());
        EXPECT_NE(std::find(steps_logged.begin(), steps_logged.end(), success), steps_logged.end());
    }
}

TEST_F(ImageTransferTest, ExactlyOneBlock) {
    card_.images().AddFile(kPath, download_test::ImageBytes(262144, 5));
    card_.serial().Arrive(download_test::PreFirmwareAnswer());
    card_.serial().Arrive(download_test::PostFirmwareResponse());

    ASSERT_TRUE(SendApps(Files(), port_));

    const std::vector<Bytes> writes = card_.Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[2].size(), 262144u);
    EXPECT_TRUE(writes[3].empty());
    const std::vector<std::wstring> steps = Steps();
    EXPECT_EQ(std::count(steps.begin(), steps.end(), L"Sending block of 262144 bytes [0 / 262144]"),
              1);
    // The PostFirmware response is read after the zero-byte write.
    const std::vector<std::string> calls = card_.serial().calls();
    const auto zeroWrite = std::find(calls.begin(), calls.end(), "StartWrite 0");
    ASSERT_NE(zeroWrite, calls.end());
    EXPECT_NE(std::find(zeroWrite, calls.end(), "StartRead 13"), calls.end());
}

// Files that cannot be opened or mapped: nothing is sent for the image and all is released.
TEST(ImageTransferFailureTest, FileFailures) {
    const struct {
        const char* name;
        uint64_t size;  // of the file added, or
        bool missing;   // no file at all
        const char* failingCall;
        platform::ErrorCode code;
        std::wstring line;
    } cases[] = {
        {"missing", 0, true, nullptr, 0, L"Unable to open file C:\\fw\\IMAGE.mbn"},
        {"open denied", 100, false, "OpenImage", 5, L"Unable to open file C:\\fw\\IMAGE.mbn"},
        {"empty", 0, false, nullptr, 0, L"Too short file C:\\fw\\IMAGE.mbn"},
        {"5 bytes", 5, false, nullptr, 0, L"Too short file C:\\fw\\IMAGE.mbn"},
        {"trailer only", 8, false, nullptr, 0, L"Too short file C:\\fw\\IMAGE.mbn"},
        {"size unknown", 100, false, "GetImageSize", 6, L"Too short file C:\\fw\\IMAGE.mbn"},
        {"mapping", 100, false, "CreateFileMapping", 8, L"CreateFileMapping() failed with 8"},
        {"view", 100, false, "MapViewOfFile", 1455, L"MapViewOfFile() failed with 1455"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Card card;
        cSerialPort port;
        ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
        if (!c.missing) {
            card.images().AddFile(kPath, download_test::ImageBytes(c.size, 6));
        }
        if (c.failingCall != nullptr) {
            card.images().script().Fail(c.failingCall, c.code);
        }
        card.serial().Arrive(download_test::PreFirmwareAnswer());

        EXPECT_FALSE(SendAmss(Files(), port));

        EXPECT_TRUE(card.Writes().empty());
        EXPECT_EQ(card.serial().pending_input(), download_test::PreFirmwareAnswer().size());
        EXPECT_EQ(card.Steps(), (std::vector<std::wstring>{L"Port COM7\\QDLService is opened.",
                                                           L"Sending AMSS...", c.line,
                                                           L"Sending AMSS failed :-("}));
        EXPECT_EQ(card.images().OpenFiles(), 0);
        EXPECT_EQ(card.images().OpenMappings(), 0);
        EXPECT_EQ(card.images().OpenViews(), 0);
    }
}

// Image paths read from an options file that others may write: only a file on a local drive is
// opened; anything that reaches the network, a pipe or a device is refused as a missing image is.
// The same paths typed by a console user are opened as given.
TEST(ImageTransferFailureTest, PathsFromOptionsFilesOnlyOnLocalDrives) {
    constexpr const wchar_t* kUnc = L"a network path (UNC), not a file on a local drive";
    constexpr const wchar_t* kPipe = L"a named pipe, not a file on a local drive";
    constexpr const wchar_t* kDevice = L"a device path, not a file on a local drive";
    constexpr const wchar_t* kRemote = L"a file on a network drive, not on a local drive";
    const struct {
        std::wstring path;
        std::wstring current;   // the current folder, for a relative path
        const wchar_t* reason;  // null: opened
        bool localOnly = true;  // false: a path a console user gave
        bool qualifyFails = false;
    } cases[] = {
        {L"\\\\HOST\\SHARE\\AMSS.MBN", L"C:\\WINDOWS", kUnc},
        {L"//HOST/SHARE/AMSS.MBN", L"C:\\WINDOWS", kUnc},
        {L"\\/HOST\\SHARE\\AMSS.MBN", L"C:\\WINDOWS", kUnc},
        {L"\\\\.\\PIPE\\FIRMWARE", L"C:\\WINDOWS", kPipe},
        {L"\\\\?\\pipe\\firmware", L"C:\\WINDOWS", kPipe},
        {L"//./PIPE/FIRMWARE", L"C:\\WINDOWS", kPipe},
        {L"\\\\.\\GLOBALROOT\\DEVICE\\MUP\\HOST\\AMSS.MBN", L"C:\\WINDOWS", kDevice},
        {L"\\\\.\\COM7", L"C:\\WINDOWS", kDevice},
        {L"\\\\?\\C:\\FW\\AMSS.MBN", L"C:\\WINDOWS", kDevice},
        {L"\\\\?\\UNC\\HOST\\SHARE\\AMSS.MBN", L"C:\\WINDOWS", kDevice},
        {L"\\??\\UNC\\HOST\\SHARE\\AMSS.MBN", L"C:\\WINDOWS", kDevice},
        {L"X:\\FW\\AMSS.MBN", L"C:\\WINDOWS", kRemote},
        {L"x:fw\\amss.mbn", L"C:\\WINDOWS", kRemote},
        {L"Q:\\FW\\AMSS.MBN", L"C:\\WINDOWS", L"a drive that does not exist"},
        {L"U:\\FW\\AMSS.MBN", L"C:\\WINDOWS", L"a drive of unknown type, not a local drive"},
        {L"AMSS.MBN", L"\\\\HOST\\SHARE", kUnc},
        {L"FW\\AMSS.MBN", L"X:\\WORK", kRemote},
        {L"AMSS.MBN", L"C:\\WINDOWS", L"a relative path that cannot be made full", true, true},
        // Opened: local drives of every kind, a relative path into a local folder, slashes.
        {L"C:\\FW\\AMSS.MBN", L"C:\\WINDOWS", nullptr},
        {L"C:/FW/AMSS.MBN", L"C:\\WINDOWS", nullptr},
        {L"E:\\AMSS.MBN", L"C:\\WINDOWS", nullptr},
        {L"D:\\AMSS.MBN", L"C:\\WINDOWS", nullptr},
        {L"R:\\AMSS.MBN", L"C:\\WINDOWS", nullptr},
        {L"AMSS.MBN", L"C:\\WINDOWS", nullptr},
        // A console user's own paths.
        {L"\\\\HOST\\SHARE\\AMSS.MBN", L"C:\\WINDOWS", nullptr, false},
        {L"X:\\FW\\AMSS.MBN", L"C:\\WINDOWS", nullptr, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.path.begin(), c.path.end()));
        Card card;
        card.paths().SetDriveType(L"X:\\", platform::drive::kRemote);
        card.paths().SetDriveType(L"Q:\\", platform::drive::kNoRootDir);
        card.paths().SetDriveType(L"U:\\", platform::drive::kUnknown);
        card.paths().SetDriveType(L"E:\\", platform::drive::kRemovable);
        card.paths().SetDriveType(L"D:\\", platform::drive::kCdRom);
        card.paths().SetDriveType(L"R:\\", platform::drive::kRamDisk);
        card.paths().SetCurrentDirectory(c.current);
        if (c.qualifyFails) {
            card.paths().script().Fail("PathSearchAndQualifyW", 1);
        }
        card.images().AddFile(c.path, download_test::ImageBytes(100, 6));
        cSerialPort port;
        ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
        FirmwareFileSet files;
        files.Amss = c.path;
        files.LocalImagesOnly = c.localOnly;

        EXPECT_FALSE(SendAmss(files, port));  // no answer from the card

        const std::vector<std::wstring> steps = card.Steps();
        ASSERT_GE(steps.size(), 3u);
        if (c.reason == nullptr) {
            EXPECT_EQ(steps[2], c.path + L" is opened.");
            EXPECT_EQ(card.images().script().Calls("OpenImage"), 1);
            continue;
        }
        EXPECT_EQ(steps, (std::vector<std::wstring>{
                             L"Port COM7\\QDLService is opened.", L"Sending AMSS...",
                             L"Image " + c.path + L" refused: " + c.reason,
                             L"Unable to open file " + c.path, L"Sending AMSS failed :-("}));
        EXPECT_EQ(card.images().script().Calls("OpenImage"), 0);
        EXPECT_TRUE(card.Writes().empty());
    }
}

// The image size goes to the card in 32 bits and is logged as "%d": a file whose image would
// reach 2 GiB is refused before anything is mapped or sent, instead of being announced cut short
// (4 GiB and more) or with a negative size.
TEST(ImageTransferFailureTest, ImagesOf2GiBOrMoreAreRefused) {
    const struct {
        uint64_t fileSize;
        uint32_t trailer;
        bool refused;
    } cases[] = {
        {0x100000000ull + 100, 0, true},  // would be announced as 100 bytes
        {0x100000000ull + 8, 8, true},    // AMSS whose image is exactly 4 GiB: would be 0
        {0x100000000ull, 0, true},       {0xFFFFFFFFull, 0, true}, {0x80000000ull, 0, true},
        {0x80000000ull + 7, 8, false},  // image size 0x7FFFFFFF: announced; mapping it fails
        {0x7FFFFFFFull, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileSize);
        Card card;
        cSerialPort port;
        ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
        card.images().AddSizedFile(kPath, c.fileSize);
        ImageTransfer t(port, kImageTypeApps, c.trailer, kPath);

        EXPECT_FALSE(OpenImage(t));

        std::vector<std::wstring> steps = card.Steps();
        ASSERT_EQ(steps.size(), 2u);
        if (c.refused) {
            EXPECT_EQ(steps[1],
                      L"Too large file C:\\fw\\IMAGE.mbn: images of 2 GiB or more are not "
                      L"supported");
            EXPECT_TRUE(card.images().MappingSizes().empty());
        } else {
            EXPECT_EQ(steps[1], L"MapViewOfFile() failed with 8");
            EXPECT_EQ(card.images().MappingSizes(), std::vector<uint32_t>{0x7FFFFFFFu});
        }
        EXPECT_EQ(t.imageSize, 0u);
        EXPECT_FALSE(t.file);
        EXPECT_EQ(card.images().OpenFiles(), 0);
    }
}

TEST_F(ImageTransferTest, TransferBuiltFromATemporaryPathKeepsItsPath) {
    const std::wstring folder = L"C:\\firmware\\a folder long enough for the heap\\";
    card_.images().AddFile(folder + L"APPS.MBN", download_test::ImageBytes(20, 7));
    ImageTransfer t(port_, kImageTypeApps, 0, folder + L"APPS.MBN");
    EXPECT_EQ(t.path, folder + L"APPS.MBN");
    EXPECT_TRUE(OpenImage(t));
}

TEST_F(ImageTransferTest, CloseImageTwiceDoesNothingMore) {
    card_.images().AddFile(kPath, download_test::ImageBytes(20, 7));
    ImageTransfer t(port_, kImageTypeAmss, 8, kPath);
    ASSERT_TRUE(OpenImage(t));
    EXPECT_EQ(t.imageSize, 12u);
    EXPECT_EQ(card_.images().OpenViews(), 1);
    CloseImage(t);
    ExpectReleased();
    EXPECT_EQ(t.imageSize, 0u);
    EXPECT_FALSE(t.view);
    EXPECT_FALSE(t.mapping);
    EXPECT_FALSE(t.file);
    CloseImage(t);
    ExpectReleased();
}

// Failures in the exchange: the lines logged after "Image size is 300000 bytes.", what went out.
TEST(ImageTransferFailureTest, ExchangeFailures) {
    const FakeIo ok;
    FakeIo failStart;
    failStart.start = FakeIo::Start::kFail;
    failStart.startError = 31;
    FakeIo timeout;
    timeout.start = FakeIo::Start::kPending;
    timeout.wait = FakeIo::Wait::kTimeout;
    const Bytes pre1 = download_test::PreFirmware1(6, 300000);
    const Bytes pre2 = download_test::PreFirmware2(300000);

    const struct {
        const char* name;
        std::vector<FakeIo> writes;
        std::vector<Bytes> replies;
        std::vector<std::wstring> lines;
        size_t written;  // writes that took bytes or were zero-byte writes
        bool sent;
    } cases[] = {
        {"PreFirmware 1 not sent",
         {failStart},
         {},
         {L"SerialPort.Send: WriteFile failed with 31", L"Error sending PreFirmware message 1."},
         0,
         false},
        {"no answer to PreFirmware 1",
         {},
         {},
         {L"SerialPort.Receive: Receiving timed out.",
          L"Error receiving answer for PreFirmware message 1."},
         1,
         false},
        {"wrong answer to PreFirmware 1",
         {},
         {download_test::PreFirmwareAnswer(0x0D)},
         {L"Recieved wrong answer for PreFirmware message 1."},
         1,
         false},
        {"short answer to PreFirmware 1",
         {},
         {Bytes{0x7E, 0x26, 0x7E}},
         {L"SerialPort.ReceiveWithCRC: Received only 3 bytes, 12 is the required amount",
          L"Error receiving answer for PreFirmware message 1."},
         1,
         false},
        {"PreFirmware 2 not sent",
         {ok, failStart},
         {download_test::PreFirmwareAnswer()},
         {L"SerialPort.Send: WriteFile failed with 31", L"Error sending PreFirmware message 2."},
         1,
         false},
        {"first block times out",
         {ok, ok, timeout},
         {download_test::PreFirmwareAnswer()},
         {L"PreFirmware messages - OK", L"Sending Firmware Image.",
          L"Sending block of 262144 bytes [0 / 300000]", L"SerialPort.Send: Sending timed out.",
          L"Error sending image."},
         2,
         false},
        {"second block fails",
         {ok, ok, ok, ok, failStart},
         {download_test::PreFirmwareAnswer()},
         {L"PreFirmware messages - OK", L"Sending Firmware Image.",
          L"Sending block of 262144 bytes [0 / 300000]",
          L"Sending block of 37856 bytes [262144 / 300000]",
          L"SerialPort.Send: WriteFile failed with 31", L"Error sending image."},
         4,
         false},
        {"zero-byte writes that fail do not matter",
         {ok, ok, ok, failStart, ok, failStart},
         {download_test::PreFirmwareAnswer(), download_test::PostFirmwareResponse()},
         {L"PreFirmware messages - OK", L"Sending Firmware Image.",
          L"Sending block of 262144 bytes [0 / 300000]",
          L"SerialPort.Send: WriteFile failed with 31",
          L"Sending block of 37856 bytes [262144 / 300000]",
          L"SerialPort.Send: WriteFile failed with 31", L"Image sending completed.",
          L"PostFirmware response - OK"},
         4,
         true},
        {"no PostFirmware response",
         {},
         {download_test::PreFirmwareAnswer()},
         {L"PreFirmware messages - OK", L"Sending Firmware Image.",
          L"Sending block of 262144 bytes [0 / 300000]",
          L"Sending block of 37856 bytes [262144 / 300000]", L"Image sending completed.",
          L"SerialPort.Receive: Receiving timed out.",
          L"Error receiving of PostFirmware response."},
         6,
         false},
        {"wrong PostFirmware response",
         {},
         {download_test::PreFirmwareAnswer(), download_test::PostFirmwareResponse(0x26)},
         {L"PreFirmware messages - OK", L"Sending Firmware Image.",
          L"Sending block of 262144 bytes [0 / 300000]",
          L"Sending block of 37856 bytes [262144 / 300000]", L"Image sending completed.",
          L"Recieved wrong PostFirmware response."},
         6,
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Card card;
        cSerialPort port;
        ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
        card.images().AddFile(kPath, download_test::ImageBytes(300000, 8));
        for (const FakeIo& io : c.writes) {
            card.serial().ScriptWrite(io);
        }
        for (const Bytes& reply : c.replies) {
            card.serial().Arrive(reply);
        }

        EXPECT_EQ(SendApps(Files(), port), c.sent);

        std::vector<std::wstring> expected = {L"Port COM7\\QDLService is opened.",
                                              L"Sending APPS...", L"C:\\fw\\IMAGE.mbn is opened.",
                                              L"Image size is 300000 bytes."};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        expected.push_back(c.sent ? L"Sending APPS completed!" : L"Sending APPS failed :-(");
        EXPECT_EQ(card.Steps(), expected);

        const std::vector<Bytes> writes = card.Writes();
        ASSERT_EQ(writes.size(), c.written);
        if (c.written >= 1) {
            EXPECT_EQ(writes[0], pre1);
        }
        if (c.written >= 2) {
            EXPECT_EQ(writes[1], pre2);
        }
        EXPECT_EQ(card.images().OpenFiles(), 0);
        EXPECT_EQ(card.images().OpenMappings(), 0);
        EXPECT_EQ(card.images().OpenViews(), 0);
        EXPECT_TRUE(port.IsOpen());
    }
}

TEST_F(ImageTransferTest, AClosedPortSendsNothing) {
    card_.images().AddFile(kPath, download_test::ImageBytes(100, 9));
    port_.Close();
    EXPECT_FALSE(SendUqcn(Files(), port_));
    EXPECT_TRUE(card_.Writes().empty());
    const std::vector<std::wstring> steps = Steps();
    EXPECT_EQ(steps,
              (std::vector<std::wstring>{
                  L"Sending UQCN...", L"C:\\fw\\IMAGE.mbn is opened.", L"Image size is 100 bytes.",
                  L"Error sending PreFirmware message 1.", L"Sending UQCN failed :-("}));
    ExpectReleased();
}

}  // namespace
