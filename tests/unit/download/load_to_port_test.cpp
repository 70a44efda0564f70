#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "download/load_to_port.h"
#include "download/serial_port.h"
#include "load_to_port_test_card.h"

namespace {

using download_test::Bytes;
using download_test::Card;
using platform::fake::FakeIo;

const std::wstring kAmss = L"C:\\fw\\AMSS.mbn";
const std::wstring kApps = L"C:\\fw\\APPS.mbn";
const std::wstring kUqcn = L"C:\\fw\\UQCN.mbn";

FirmwareFileSet Files(int generation, bool usePreference = true) {
    FirmwareFileSet files;
    files.Amss = kAmss;
    files.Apps = kApps;
    files.Uqcn = generation == 2 ? kUqcn : L"";
    files.Vendor = L"Lenovo";
    files.Generation = generation;
    files.UsePreference = usePreference;
    return files;
}

// The log with each frame trace cut to its first two bytes and trace continuations dropped:
// the order of steps and frames.
std::vector<std::wstring> Outline(Card& card) {
    std::vector<std::wstring> outline;
    for (const std::wstring& line : card.Lines()) {
        if (line.rfind(L"      ", 0) == 0) {
            continue;
        }
        const bool trace = line.rfind(L"Send: ", 0) == 0 || line.rfind(L"Rcvd: ", 0) == 0;
        outline.push_back(trace ? line.substr(0, 11) : line);
    }
    return outline;
}

// The exchange of one image on the line, for an image of `size` bytes sent in one block.
std::vector<Bytes> ImageWrites(uint8_t type, const Bytes& image) {
    return {download_test::PreFirmware1(type, static_cast<uint32_t>(image.size())),
            download_test::PreFirmware2(static_cast<uint32_t>(image.size())), image, Bytes{}};
}

// After every download the port is closed and no longer the current port: a cancel now must
// touch nothing (the sanitizers would see a port that is gone).
void ExpectPortReleased(Card& card) {
    EXPECT_EQ(card.serial().open_devices(), 0);
    CancelCurrentPort();
}

TEST(LoadToPortTest, Gobi1000) {
    Card card;
    const Bytes amss = download_test::ImageBytes(12, 1);
    const Bytes apps = download_test::ImageBytes(3, 2);
    card.images().AddFile(kAmss, amss);
    card.images().AddFile(kApps, apps);
    // A preference in the answer means nothing to a Gobi 1000 card.
    card.serial().Arrive(download_test::InitialAnswer(6));
    for (int i = 0; i < 2; ++i) {
        card.serial().Arrive(download_test::PreFirmwareAnswer());
        card.serial().Arrive(download_test::PostFirmwareResponse());
    }
    FirmwareFileSet files = Files(1);

    EXPECT_TRUE(LoadToPort(L"COM7", files));

    EXPECT_EQ(card.serial().opened_paths(), std::vector<std::wstring>{L"\\\\.\\COM7\\QDLService"});
    std::vector<Bytes> expected = {download_test::InitialMessage(4)};
    for (const Bytes& w : ImageWrites(5, Bytes(amss.begin(), amss.end() - 8))) {
        expected.push_back(w);
    }
    for (const Bytes& w : ImageWrites(6, apps)) {
        expected.push_back(w);
    }
    expected.push_back(download_test::kFinalMessage);
    const std::vector<Bytes> writes = card.Writes();
    EXPECT_EQ(writes, expected);
    ASSERT_EQ(writes[0].size(), 40u);
    EXPECT_EQ(writes[0][37], 0x03);
    EXPECT_EQ(writes[0][38], 0x0B);
    EXPECT_EQ(card.serial().pending_input(), 0u);

    EXPECT_EQ(Outline(card), (std::vector<std::wstring>{
                                 L"Port COM7\\QDLService is opened.",
                                 L"Send: 7E 01",
                                 L"Rcvd: 7E 02",
                                 L"Initial Message - OK",
                                 L"Sending AMSS...",
                                 L"C:\\fw\\AMSS.mbn is opened.",
                                 L"Image size is 4 bytes.",
                                 L"Send: 7E 25",
                                 L"Rcvd: 7E 26",
                                 L"Send: 27 00",
                                 L"PreFirmware messages - OK",
                                 L"Sending Firmware Image.",
                                 L"Sending block of 4 bytes [0 / 4]",
                                 L"Image sending completed.",
                                 L"Rcvd: 7E 28",
                                 L"PostFirmware response - OK",
                                 L"Sending AMSS completed!",
                                 L"Sending APPS...",
                                 L"C:\\fw\\APPS.mbn is opened.",
                                 L"Image size is 3 bytes.",
                                 L"Send: 7E 25",
                                 L"Rcvd: 7E 26",
                                 L"Send: 27 00",
                                 L"PreFirmware messages - OK",
                                 L"Sending Firmware Image.",
                                 L"Sending block of 3 bytes [0 / 3]",
                                 L"Image sending completed.",
                                 L"Rcvd: 7E 28",
                                 L"PostFirmware response - OK",
                                 L"Sending APPS completed!",
                                 L"Send: 7E 29",
                                 L"Final Message - OK",
                                 L"Firmware loading completed!",
                             }));
    EXPECT_EQ(files.Amss, kAmss);
    EXPECT_EQ(files.Apps, kApps);
    ExpectPortReleased(card);
}

TEST(LoadToPortTest, Gobi2000SendsUqcnLast) {
    Card card;
    const Bytes amss = download_test::ImageBytes(20, 1);
    const Bytes apps = download_test::ImageBytes(5, 2);
    const Bytes uqcn = download_test::ImageBytes(7, 3);
    card.images().AddFile(kAmss, amss);
    card.images().AddFile(kApps, apps);
    card.images().AddFile(kUqcn, uqcn);
    card.serial().Arrive(download_test::InitialAnswer(-1));
    for (int i = 0; i < 3; ++i) {
        card.serial().Arrive(download_test::PreFirmwareAnswer());
        card.serial().Arrive(download_test::PostFirmwareResponse());
    }
    FirmwareFileSet files = Files(2);

    EXPECT_TRUE(LoadToPort(L"COM12", files));

    EXPECT_EQ(card.serial().opened_paths(), std::vector<std::wstring>{L"\\\\.\\COM12\\QDLService"});
    std::vector<Bytes> expected = {download_test::InitialMessage(5)};
    for (const auto& [type, image] : {std::pair{5, Bytes(amss.begin(), amss.end() - 8)},
                                      std::pair{6, apps}, std::pair{13, uqcn}}) {
        for (const Bytes& w : ImageWrites(static_cast<uint8_t>(type), image)) {
            expected.push_back(w);
        }
    }
    expected.push_back(download_test::kFinalMessage);
    const std::vector<Bytes> writes = card.Writes();
    EXPECT_EQ(writes, expected);
    ASSERT_EQ(writes[0].size(), 40u);
    EXPECT_EQ(writes[0][37], 0x07);
    EXPECT_EQ(writes[0][38], 0x48);

    const std::vector<std::wstring> steps = card.Steps();
    const std::vector<std::wstring> head(steps.begin(), steps.begin() + 4);
    EXPECT_EQ(head, (std::vector<std::wstring>{
                        L"Port COM12\\QDLService is opened.", L"Initial Message - OK",
                        L"Gobi firmware preference is \"Default\"", L"Sending AMSS..."}));
    const std::vector<std::wstring> tail(steps.end() - 4, steps.end());
    EXPECT_EQ(tail,
              (std::vector<std::wstring>{L"PostFirmware response - OK", L"Sending UQCN completed!",
                                         L"Final Message - OK", L"Firmware loading completed!"}));
    ExpectPortReleased(card);
}

// The firmware preference of a Gobi 2000 card: which lines it logs and which paths the images
// then come from. Every case loads to the end.
TEST(LoadToPortTest, FirmwarePreference) {
    const std::wstring base = L"C:\\Program Files\\QUALCOMM\\Images\\Lenovo";
    const std::wstring upperBase = L"C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO";
    const struct {
        const char* name;
        int32_t preference;
        bool usePreference;
        bool programFilesFails;
        std::vector<std::wstring> present;  // under base
        std::vector<std::wstring> lines;    // after "Initial Message - OK"
        std::wstring amss, apps, uqcn;      // afterwards
    } cases[] = {
        {"default",
         -1,
         true,
         false,
         {L"\\-1\\UQCN.mbn", L"\\-1\\AMSS.mbn", L"\\-1\\APPS.mbn"},
         {L"Gobi firmware preference is \"Default\""},
         kAmss,
         kApps,
         kUqcn},
        {"6 with AMSS from UMTS",
         6,
         true,
         false,
         {L"\\6\\UQCN.mbn", L"\\6\\APPS.mbn", L"\\UMTS\\AMSS.mbn", L"\\UMTS\\APPS.mbn"},
         {L"Gobi firmware preference is # 6",
          L"Amss: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\UMTS\\AMSS.MBN",
          L"Apps: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\6\\APPS.MBN",
          L"Uqcn: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\6\\UQCN.MBN"},
         upperBase + L"\\UMTS\\AMSS.MBN",
         upperBase + L"\\6\\APPS.MBN",
         upperBase + L"\\6\\UQCN.MBN"},
        {"12, all in its folder",
         12,
         true,
         false,
         {L"\\12\\UQCN.mbn", L"\\12\\AMSS.mbn", L"\\12\\APPS.mbn", L"\\UMTS\\AMSS.mbn"},
         {L"Gobi firmware preference is # 12",
          L"Amss: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\12\\AMSS.MBN",
          L"Apps: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\12\\APPS.MBN",
          L"Uqcn: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\12\\UQCN.MBN"},
         upperBase + L"\\12\\AMSS.MBN",
         upperBase + L"\\12\\APPS.MBN",
         upperBase + L"\\12\\UQCN.MBN"},
        {"0 with both from UMTS",
         0,
         true,
         false,
         {L"\\0\\UQCN.mbn", L"\\UMTS\\AMSS.mbn", L"\\UMTS\\APPS.mbn"},
         {L"Gobi firmware preference is # 0",
          L"Amss: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\UMTS\\AMSS.MBN",
          L"Apps: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\UMTS\\APPS.MBN",
          L"Uqcn: C:\\PROGRAM FILES\\QUALCOMM\\IMAGES\\LENOVO\\0\\UQCN.MBN"},
         upperBase + L"\\UMTS\\AMSS.MBN",
         upperBase + L"\\UMTS\\APPS.MBN",
         upperBase + L"\\0\\UQCN.MBN"},
        {"6 without UQCN",
         6,
         true,
         false,
         {L"\\6\\AMSS.mbn", L"\\6\\APPS.mbn"},
         {L"Gobi firmware preference is # 6"},
         kAmss,
         kApps,
         kUqcn},
        {"6 without any AMSS",
         6,
         true,
         false,
         {L"\\6\\UQCN.mbn", L"\\6\\APPS.mbn"},
         {L"Gobi firmware preference is # 6"},
         kAmss,
         kApps,
         kUqcn},
        {"6 without any APPS",
         6,
         true,
         false,
         {L"\\6\\UQCN.mbn", L"\\6\\AMSS.mbn"},
         {L"Gobi firmware preference is # 6"},
         kAmss,
         kApps,
         kUqcn},
        {"skipped",
         6,
         false,
         false,
         {L"\\6\\UQCN.mbn", L"\\6\\AMSS.mbn", L"\\6\\APPS.mbn"},
         {L"Gobi firmware preference skipped."},
         kAmss,
         kApps,
         kUqcn},
        {"no Program Files folder",
         6,
         true,
         true,
         {L"\\6\\UQCN.mbn", L"\\6\\AMSS.mbn", L"\\6\\APPS.mbn"},
         {L"Gobi firmware preference is # 6",
          L"cFirmwareLoader::ReadFileNames: SHGetFolderPath(CSIDL_PROGRAM_FILES) -> error"},
         kAmss,
         kApps,
         kUqcn},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Card card;
        for (const std::wstring& path : c.present) {
            card.files().AddFile(base + path, {});
        }
        if (c.programFilesFails) {
            card.folders().script().Fail("ProgramFiles", 5);
        }
        const Bytes amss = download_test::ImageBytes(30, 1);
        const Bytes apps = download_test::ImageBytes(31, 2);
        const Bytes uqcn = download_test::ImageBytes(32, 3);
        card.images().AddFile(c.amss, amss);
        card.images().AddFile(c.apps, apps);
        card.images().AddFile(c.uqcn, uqcn);
        card.serial().Arrive(download_test::InitialAnswer(c.preference));
        for (int i = 0; i < 3; ++i) {
            card.serial().Arrive(download_test::PreFirmwareAnswer());
            card.serial().Arrive(download_test::PostFirmwareResponse());
        }
        FirmwareFileSet files = Files(2, c.usePreference);

        EXPECT_TRUE(LoadToPort(L"COM7", files));

        EXPECT_EQ(files.Amss, c.amss);
        EXPECT_EQ(files.Apps, c.apps);
        EXPECT_EQ(files.Uqcn, c.uqcn);
        const std::vector<std::wstring> steps = card.Steps();
        ASSERT_GE(steps.size(), 3 + c.lines.size());
        EXPECT_EQ(steps[1], L"Initial Message - OK");
        EXPECT_EQ(std::vector<std::wstring>(steps.begin() + 2, steps.begin() + 2 + c.lines.size()),
                  c.lines);
        EXPECT_EQ(steps[2 + c.lines.size()], L"Sending AMSS...");
        // The images went out from the paths the file set holds now.
        const std::vector<Bytes> writes = card.Writes();
        ASSERT_EQ(writes.size(), 1u + 3 * 4 + 1);
        EXPECT_EQ(writes[3], Bytes(amss.begin(), amss.end() - 8));
        EXPECT_EQ(writes[7], apps);
        EXPECT_EQ(writes[11], uqcn);
        ExpectPortReleased(card);
    }
}

// A preferred path that would not fit a path buffer counts as missing.
TEST(LoadToPortTest, PreferencePathsLongerThanAPathBufferAreNotTaken) {
    Card card;
    const std::wstring folder = L"C:\\" + std::wstring(230, L'p');
    card.folders().SetProgramFiles(folder);
    FirmwareFileSet files = Files(2);
    files.Vendor = L"Lenovo";
    const std::wstring base = folder + L"\\QUALCOMM\\Images\\Lenovo";
    for (const wchar_t* name : {L"\\6\\UQCN.mbn", L"\\6\\AMSS.mbn", L"\\6\\APPS.mbn"}) {
        card.files().AddFile(base + name, {});
        ASSERT_GT((base + name).size(), 259u);
    }
    EXPECT_FALSE(ApplyFirmwarePreference(6, files));
    EXPECT_EQ(files.Uqcn, kUqcn);
    EXPECT_TRUE(card.Lines().empty());
}

// Each failing step ends the download: its lines, what went out before it, nothing after, the
// port closed.
TEST(LoadToPortTest, FailuresEndTheDownload) {
    FakeIo failStart;
    failStart.start = FakeIo::Start::kFail;
    failStart.startError = 21;
    const FakeIo ok;
    const Bytes image = download_test::ImageBytes(16, 1);  // AMSS 8 bytes, APPS/UQCN 16

    const struct {
        const char* name;
        std::function<void(Card&)> setup;
        size_t replies;  // the card's good replies, in order from the initial answer
        size_t writes;   // writes that went out
        std::vector<std::wstring> tail;
    } cases[] = {
        {"port does not open",
         [](Card& card) { card.serial().script().Fail("Open", 2); },
         0,
         0,
         {L"cSerialPort.Open: Unable to open port \\\\.\\COM7\\QDLService. ErrorCode: 2",
          L"Unable to open port: COM7"}},
        {"initial message not sent",
         [&](Card& card) { card.serial().ScriptWrite(failStart); },
         0,
         0,
         {L"SerialPort.Send: WriteFile failed with 21", L"Error sending initial message."}},
        {"no answer to the initial message",
         [](Card&) {},
         0,
         1,
         {L"SerialPort.Receive: Receiving timed out.",
          L"Error receiving answer for initial message."}},
        {"wrong answer to the initial message",
         [](Card& card) { card.serial().Arrive(download_test::InitialAnswer(-1, 0x0D)); },
         0,
         1,
         {L"Recieved wrong answer for initial message."}},
        {"AMSS missing",
         [](Card& card) { card.images().AddFile(kApps, download_test::ImageBytes(16, 1)); },
         1,
         1,
         {L"Sending AMSS...", L"Unable to open file C:\\fw\\AMSS.mbn", L"Sending AMSS failed :-("}},
        {"APPS answered wrongly",
         [](Card& card) { card.serial().Arrive(download_test::PostFirmwareResponse(0x0D)); },
         4,
         1 + 4 + 4,
         {L"Image sending completed.", L"Recieved wrong PostFirmware response.",
          L"Sending APPS failed :-("}},
        {"UQCN not answered",
         [](Card&) {},
         5,
         1 + 4 + 4 + 1,
         {L"Sending UQCN...", L"C:\\fw\\UQCN.mbn is opened.", L"Image size is 16 bytes.",
          L"SerialPort.Receive: Receiving timed out.",
          L"Error receiving answer for PreFirmware message 1.", L"Sending UQCN failed :-("}},
        {"final message not sent",
         [&](Card& card) {
             for (int i = 0; i < 13; ++i) {
                 card.serial().ScriptWrite(ok);
             }
             card.serial().ScriptWrite(failStart);
         },
         7,
         13,
         {L"Sending UQCN completed!", L"SerialPort.Send: WriteFile failed with 21",
          L"Error sending final message."}},
    };
    const Bytes goodReplies[] = {
        download_test::InitialAnswer(-1),      download_test::PreFirmwareAnswer(),
        download_test::PostFirmwareResponse(), download_test::PreFirmwareAnswer(),
        download_test::PostFirmwareResponse(), download_test::PreFirmwareAnswer(),
        download_test::PostFirmwareResponse(),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Card card;
        for (const std::wstring& path : {kAmss, kApps, kUqcn}) {
            if (std::string(c.name) != "AMSS missing") {
                card.images().AddFile(path, image);
            }
        }
        for (size_t i = 0; i < c.replies; ++i) {
            card.serial().Arrive(goodReplies[i]);
        }
        c.setup(card);
        FirmwareFileSet files = Files(2);

        EXPECT_FALSE(LoadToPort(L"COM7", files));

        const std::vector<std::wstring> steps = card.Steps();
        ASSERT_GE(steps.size(), c.tail.size());
        EXPECT_EQ(std::vector<std::wstring>(steps.end() - c.tail.size(), steps.end()), c.tail);
        EXPECT_EQ(std::count(steps.begin(), steps.end(), L"Firmware loading completed!"), 0);
        EXPECT_EQ(card.Writes().size(), c.writes);
        ExpectPortReleased(card);
    }
}

// A cancel from the service's control thread reaches the port of the download in progress.
TEST(LoadToPortTest, CancelEndsTheDownloadInProgress) {
    Card card;
    FakeIo blocked;
    blocked.start = FakeIo::Start::kPending;
    blocked.wait = FakeIo::Wait::kBlock;
    card.serial().ScriptRead(blocked);
    FirmwareFileSet files = Files(1);

    std::thread control([&card] {
        if (card.serial().AwaitBlockedWait(60000)) {
            CancelCurrentPort();
        }
    });
    EXPECT_FALSE(LoadToPort(L"COM7", files));
    control.join();

    const std::vector<std::wstring> steps = card.Steps();
    ASSERT_GE(steps.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(steps.end() - 2, steps.end()),
              (std::vector<std::wstring>{L"SerialPort.Receive: Operation cancelled.",
                                         L"Error receiving answer for initial message."}));
    EXPECT_EQ(card.Writes().size(), 1u);
    ExpectPortReleased(card);
}

}  // namespace
