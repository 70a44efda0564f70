#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "discovery/firmware_loader.h"
#include "fakes/shell_fake.h"
#include "fakes/text_files_fake.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kGobi1000File = L"C:\\ProgramData\\QUALCOMM\\QDLService\\Options.txt";
const std::wstring kLenovoFile = L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kLenovo.txt";

// A Gobi 2000 options file: a byte-order mark, then the text as UTF-16LE.
std::vector<uint8_t> Utf16File(const std::wstring& text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

class ReadFileNamesTest : public testing::Test {
  protected:
    ReadFileNamesTest() {
        platform::Platform p = platform::Get();
        p.folders = &folders_;
        p.textFiles = &files_;
        use_ = std::make_unique<platform::ScopedPlatform>(p);
        // What an earlier card left in the record.
        set_.Amss = L"OLD AMSS";
        set_.Apps = L"OLD APPS";
        set_.Uqcn = L"OLD UQCN";
        set_.Vendor = L"Old";
        set_.UsePreference = false;
    }

    bool Read(const wchar_t* vendor, int32_t generation) {
        const bool result = cFirmwareLoader::ReadFileNames(vendor, set_, generation);
        EXPECT_EQ(files_.OpenFiles(), 0) << "the options file stays open";
        return result;
    }

    LogCapture log_;
    platform::fake::FakeShellFolders folders_;
    platform::fake::FakeTextFiles files_;
    std::unique_ptr<platform::ScopedPlatform> use_;
    FirmwareFileSet set_;
};

TEST_F(ReadFileNamesTest, Gobi1000TakesAmssAndAppsAndIgnoresUqcn) {
    files_.AddFile(
        kGobi1000File,
        std::string("c:\\images\\amss.mbn\r\nc:\\images\\apps.mbn\r\nc:\\images\\uqcn.mbn\r\n"));
    EXPECT_TRUE(Read(L"ONDA Communication", 1));
    EXPECT_EQ(set_.Amss, L"C:\\IMAGES\\AMSS.MBN");
    EXPECT_EQ(set_.Apps, L"C:\\IMAGES\\APPS.MBN");
    EXPECT_EQ(set_.Uqcn, L"");
    EXPECT_EQ(set_.Vendor, L"ONDA Communication");
    EXPECT_EQ(set_.Generation, 1);
    EXPECT_FALSE(set_.UsePreference) << "left to the caller";
    EXPECT_EQ(log_.Lines(),
              (Lines{L"Reading " + kGobi1000File, L"Default Amss: C:\\IMAGES\\AMSS.MBN",
                     L"Default Apps: C:\\IMAGES\\APPS.MBN"}));
}

TEST_F(ReadFileNamesTest, Gobi2000TakesAllThreeFromTheVendorsFile) {
    files_.AddFile(kLenovoFile, Utf16File(L"C:\\FW\\6\\uqcn.mbn\r\nC:\\FW\\umts\\Amss.mbn\r\n"
                                          L"C:\\FW\\umts\\apps.MBN\r\n"));
    EXPECT_TRUE(Read(L"Lenovo", 2));
    EXPECT_EQ(set_.Amss, L"C:\\FW\\UMTS\\AMSS.MBN");
    EXPECT_EQ(set_.Apps, L"C:\\FW\\UMTS\\APPS.MBN");
    EXPECT_EQ(set_.Uqcn, L"C:\\FW\\6\\UQCN.MBN");
    EXPECT_EQ(set_.Vendor, L"Lenovo");
    EXPECT_EQ(set_.Generation, 2);
    EXPECT_EQ(log_.Lines(), (Lines{L"Reading " + kLenovoFile, L"Default Uqcn: C:\\FW\\6\\UQCN.MBN",
                                   L"Default Amss: C:\\FW\\UMTS\\AMSS.MBN",
                                   L"Default Apps: C:\\FW\\UMTS\\APPS.MBN"}));
}

TEST_F(ReadFileNamesTest, PutsTheVendorIntoTheGobi2000FileNameAsItIs) {
    files_.AddFile(L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kTop Global.txt",
                   Utf16File(L"a\\amss\nb\\apps\nc\\uqcn\n"));
    EXPECT_TRUE(Read(L"Top Global", 2));
    EXPECT_EQ(files_.OpenedPaths(),
              Lines{L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kTop Global.txt"});
    EXPECT_EQ(set_.Amss, L"A\\AMSS");
    EXPECT_EQ(set_.Apps, L"B\\APPS");
    EXPECT_EQ(set_.Uqcn, L"C\\UQCN");
}

TEST_F(ReadFileNamesTest, LineEndsMakeNoDifference) {
    const std::string endings[] = {
        "c:\\a\\amss.mbn\r\nc:\\a\\apps.mbn\r\n",
        "c:\\a\\amss.mbn\nc:\\a\\apps.mbn\n",
        "c:\\a\\amss.mbn\r\nc:\\a\\apps.mbn",
        "c:\\a\\amss.mbn\r\r\nc:\\a\\apps.mbn\n\r",
    };
    for (const std::string& text : endings) {
        SCOPED_TRACE(text);
        platform::fake::FakeTextFiles files;
        files.AddFile(kGobi1000File, text);
        platform::Platform p = platform::Get();
        p.textFiles = &files;
        platform::ScopedPlatform use(p);
        EXPECT_TRUE(cFirmwareLoader::ReadFileNames(L"HP", set_, 1));
        EXPECT_EQ(set_.Amss, L"C:\\A\\AMSS.MBN");
        EXPECT_EQ(set_.Apps, L"C:\\A\\APPS.MBN");

        files.AddFile(kLenovoFile,
                      Utf16File(L"c:\\a\\uqcn.mbn\r\n" + std::wstring(text.begin(), text.end())));
        EXPECT_TRUE(cFirmwareLoader::ReadFileNames(L"Lenovo", set_, 2));
        EXPECT_EQ(set_.Amss, L"C:\\A\\AMSS.MBN");
        EXPECT_EQ(set_.Apps, L"C:\\A\\APPS.MBN");
        EXPECT_EQ(set_.Uqcn, L"C:\\A\\UQCN.MBN");
    }
}

TEST_F(ReadFileNamesTest, Gobi2000WithoutUqcnFails) {
    files_.AddFile(kLenovoFile, Utf16File(L"c:\\amss.mbn\r\nc:\\apps.mbn\r\n"));
    EXPECT_FALSE(Read(L"Lenovo", 2));
    EXPECT_EQ(set_.Amss, L"C:\\AMSS.MBN");
    EXPECT_EQ(set_.Apps, L"C:\\APPS.MBN");
    EXPECT_EQ(set_.Uqcn, L"");
    EXPECT_EQ(log_.Lines(),
              (Lines{L"Reading " + kLenovoFile, L"Default Amss: C:\\AMSS.MBN",
                     L"Default Apps: C:\\APPS.MBN", L"Unable to local UQCN module's path"}));
}

TEST_F(ReadFileNamesTest, NeverReadsAFourthLine) {
    files_.AddFile(kLenovoFile, Utf16File(L"c:\\amss.mbn\r\nc:\\apps.mbn\r\nnothing\r\n"
                                          L"c:\\uqcn.mbn\r\n"));
    EXPECT_FALSE(Read(L"Lenovo", 2));
    EXPECT_EQ(set_.Uqcn, L"");
    EXPECT_EQ(log_.Lines().back(), L"Unable to local UQCN module's path");
}

TEST_F(ReadFileNamesTest, EmptyFileNamesEveryMissingPath) {
    files_.AddFile(kGobi1000File, std::string());
    EXPECT_FALSE(Read(L"HP", 1));
    EXPECT_EQ(log_.Lines(),
              (Lines{L"Reading " + kGobi1000File, L"Unable to local AMSS module's path",
                     L"Unable to local APPS module's path"}));
    EXPECT_EQ(set_.Amss, L"");
    EXPECT_EQ(set_.Apps, L"");
    EXPECT_EQ(set_.Uqcn, L"") << "emptied at the start";
}

TEST_F(ReadFileNamesTest, EmptyGobi2000FileNamesEveryMissingPath) {
    for (std::vector<uint8_t> bytes :
         {std::vector<uint8_t>{}, std::vector<uint8_t>{0xFF}, Utf16File(L"")}) {
        platform::fake::FakeTextFiles files;
        files.AddFile(kLenovoFile, bytes);
        platform::Platform p = platform::Get();
        p.textFiles = &files;
        platform::ScopedPlatform use(p);
        EXPECT_FALSE(cFirmwareLoader::ReadFileNames(L"Lenovo", set_, 2));
    }
    const Lines expected = {L"Reading " + kLenovoFile, L"Unable to local AMSS module's path",
                            L"Unable to local APPS module's path",
                            L"Unable to local UQCN module's path"};
    Lines all;
    for (int i = 0; i < 3; ++i) {
        all.insert(all.end(), expected.begin(), expected.end());
    }
    EXPECT_EQ(log_.Lines(), all);
}

TEST_F(ReadFileNamesTest, Gobi2000FileSavedAs8BitTextRecognisesNothing) {
    files_.AddFile(kLenovoFile,
                   std::string("c:\\fw\\amss.mbn\r\nc:\\fw\\apps.mbn\r\nc:\\fw\\uqcn.mbn\r\n"));
    EXPECT_FALSE(Read(L"Lenovo", 2));
    EXPECT_EQ(set_.Amss, L"");
    EXPECT_EQ(set_.Apps, L"");
    EXPECT_EQ(set_.Uqcn, L"");
}

TEST_F(ReadFileNamesTest, RecognisesLinesInOrderOfPrecedence) {
    struct Case {
        const char* what;
        std::wstring text;
        std::wstring amss, apps, uqcn;
    };
    const Case cases[] = {
        {"AMSS wins over APPS", L"c:\\amss\\apps.mbn\nc:\\x\\apps.mbn\nc:\\uqcn.mbn\n",
         L"C:\\AMSS\\APPS.MBN", L"C:\\X\\APPS.MBN", L"C:\\UQCN.MBN"},
        {"APPS wins over UQCN", L"c:\\uqcn\\apps.mbn\nc:\\amss.mbn\nc:\\uqcn.mbn\n",
         L"C:\\AMSS.MBN", L"C:\\UQCN\\APPS.MBN", L"C:\\UQCN.MBN"},
        {"a later line replaces", L"c:\\1\\amss.mbn\nc:\\2\\AmSs.mbn\nc:\\apps.mbn\n",
         L"C:\\2\\AMSS.MBN", L"C:\\APPS.MBN", L""},
        {"anywhere in the line", L"xAMSSx\nAPPS\nuqcn\n", L"XAMSSX", L"APPS", L"UQCN"},
        {"blanks and quotes stay", L"  \"c:\\my fw\\amss.mbn\" \nrel\\apps\tx\n\tuqcn \r\n",
         L"  \"C:\\MY FW\\AMSS.MBN\" ", L"REL\\APPS\tX", L"\tUQCN "},
        {"CR inside a line stays", L"c:\\a\rb\\amss\r\napps\r\nuqcn\r\n", L"C:\\A\rB\\AMSS",
         L"APPS", L"UQCN"},
        {"an empty line counts", L"\namss\napps\nuqcn\n", L"AMSS", L"APPS", L""},
        {"a zero character ends the line",
         std::wstring(L"c:\\a", 4) + L'\0' + L"amss\napps\n" + L"uqcn\n", L"", L"APPS", L"UQCN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::fake::FakeTextFiles files;
        files.AddFile(kLenovoFile, Utf16File(c.text));
        platform::Platform p = platform::Get();
        p.textFiles = &files;
        platform::ScopedPlatform use(p);
        cFirmwareLoader::ReadFileNames(L"Lenovo", set_, 2);
        EXPECT_EQ(set_.Amss, c.amss);
        EXPECT_EQ(set_.Apps, c.apps);
        EXPECT_EQ(set_.Uqcn, c.uqcn);
    }
}

TEST_F(ReadFileNamesTest, LogsEveryRecognisedLine) {
    files_.AddFile(kGobi1000File, std::string("c:\\1\\amss\nc:\\2\\amss\nc:\\apps\n"));
    EXPECT_TRUE(Read(L"HP", 1));
    EXPECT_EQ(log_.Lines(), (Lines{L"Reading " + kGobi1000File, L"Default Amss: C:\\1\\AMSS",
                                   L"Default Amss: C:\\2\\AMSS", L"Default Apps: C:\\APPS"}));
}

TEST_F(ReadFileNamesTest, ReadsLongLinesInPiecesOf259) {
    // 282 characters: the first piece holds 259 and no image name, the second the rest.
    const std::string longLine = "c:\\" + std::string(270, 'x') + "\\amss.mbn";
    ASSERT_EQ(longLine.size(), 282u);
    files_.AddFile(kGobi1000File, longLine + "\r\nc:\\apps.mbn\r\nc:\\second\\amss.mbn\r\n");
    EXPECT_TRUE(Read(L"HP", 1));
    EXPECT_EQ(set_.Amss, std::wstring(14, L'X') + L"\\AMSS.MBN");
    EXPECT_EQ(set_.Apps, L"C:\\APPS.MBN");

    // 259 characters fill the line buffer: the line end that follows is a line of its own.
    const std::wstring exact = L"c:\\" + std::wstring(247, L'y') + L"\\amss.mbn";
    ASSERT_EQ(exact.size(), 259u);
    platform::fake::FakeTextFiles files;
    files.AddFile(kLenovoFile, Utf16File(exact + L"\r\nc:\\apps.mbn\r\nc:\\uqcn.mbn\r\n"));
    platform::Platform p = platform::Get();
    p.textFiles = &files;
    platform::ScopedPlatform use(p);
    EXPECT_FALSE(cFirmwareLoader::ReadFileNames(L"Lenovo", set_, 2));
    std::wstring upper = L"C:\\" + std::wstring(247, L'Y') + L"\\AMSS.MBN";
    EXPECT_EQ(set_.Amss, upper);
    EXPECT_EQ(set_.Apps, L"C:\\APPS.MBN");
    EXPECT_EQ(set_.Uqcn, L"") << "the line end behind the first line counted as the second";
}

TEST_F(ReadFileNamesTest, CapitalisesAsciiLettersOnly) {
    // Windows-1252: E4 is a-umlaut, 80 the euro sign.
    files_.AddFile(kGobi1000File, std::string("c:\\b\xe4r\x80\\amss.mbn\nc:\\apps\n"));
    EXPECT_TRUE(Read(L"HP", 1));
    EXPECT_EQ(set_.Amss, L"C:\\B\u00e4R\u20ac\\AMSS.MBN");
}

TEST_F(ReadFileNamesTest, ReportsAMissingCommonApplicationDataFolder) {
    folders_.script().Fail("CommonAppData", 5);
    files_.AddFile(kGobi1000File, std::string("amss\napps\n"));
    EXPECT_FALSE(Read(L"HP", 1));
    EXPECT_EQ(log_.Lines(),
              Lines{L"cFirmwareLoader::ReadFileNames: SHGetFolderPath(CSIDL_COMMON_APPDATA) -> "
                    L"error"});
    EXPECT_TRUE(files_.OpenedPaths().empty());
    EXPECT_EQ(set_.Amss, L"");
    EXPECT_EQ(set_.Vendor, L"HP");
    EXPECT_EQ(set_.Generation, 1);
}

TEST_F(ReadFileNamesTest, ReportsAnOptionsFileThatCannotBeOpened) {
    folders_.SetCommonAppData(L"D:\\Data");
    EXPECT_FALSE(Read(L"Sierra", 2));
    const std::wstring path = L"D:\\Data\\QUALCOMM\\QDLService2k\\Options2kSierra.txt";
    EXPECT_EQ(log_.Lines(), (Lines{L"Reading " + path, L"Unable to open options file: " + path}));
    EXPECT_EQ(set_.Amss, L"");
    EXPECT_EQ(set_.Apps, L"");
    EXPECT_EQ(set_.Uqcn, L"");
    EXPECT_EQ(set_.Vendor, L"Sierra");
    EXPECT_EQ(set_.Generation, 2);
}

TEST_F(ReadFileNamesTest, AReadErrorKeepsWhatWasRecognised) {
    // The reader takes the file in blocks of 512 bytes; the second block fails.
    files_.AddFile(kGobi1000File,
                   std::string("c:\\amss.mbn\n") + std::string(600, 'x') + "\nc:\\apps.mbn\n");
    files_.script().Fail("ReadFile", 30, 1, 1);
    EXPECT_FALSE(Read(L"HP", 1));
    EXPECT_EQ(set_.Amss, L"C:\\AMSS.MBN");
    EXPECT_EQ(set_.Apps, L"");
    EXPECT_EQ(log_.Lines(), (Lines{L"Reading " + kGobi1000File, L"Default Amss: C:\\AMSS.MBN",
                                   L"Unable to local APPS module's path"}));

    files_.script().Fail("ReadFile", 30);
    EXPECT_FALSE(Read(L"HP", 1));
    EXPECT_EQ(set_.Amss, L"");
}

TEST_F(ReadFileNamesTest, AFailedSeekReadsNothing) {
    files_.AddFile(kLenovoFile, Utf16File(L"amss\napps\nuqcn\n"));
    files_.script().Fail("SetFilePointer", 87);
    EXPECT_FALSE(Read(L"Lenovo", 2));
    EXPECT_EQ(files_.script().Calls("ReadFile"), 0);
    EXPECT_EQ(set_.Amss, L"");
}

TEST_F(ReadFileNamesTest, ALineThatCannotBeWidenedCountsAsEmpty) {
    files_.AddFile(kGobi1000File, std::string("c:\\1\\amss\nc:\\apps\nc:\\3\\amss\nc:\\4\\amss\n"));
    files_.script().Fail("MultiByteToWideChar", 1113);
    EXPECT_TRUE(Read(L"HP", 1));
    EXPECT_EQ(set_.Amss, L"C:\\3\\AMSS");
}

TEST_F(ReadFileNamesTest, Gobi2000LastOddByteIsNoCharacter) {
    std::vector<uint8_t> bytes = Utf16File(L"amss\napps\nuqc");
    bytes.push_back('n');
    files_.AddFile(kLenovoFile, bytes);
    EXPECT_FALSE(Read(L"Lenovo", 2));
    EXPECT_EQ(set_.Amss, L"AMSS");
    EXPECT_EQ(set_.Uqcn, L"");
}

TEST_F(ReadFileNamesTest, KeepsAtMost259CharactersOfTheVendor) {
    const std::wstring vendor(300, L'v');
    Read(vendor.c_str(), 2);
    EXPECT_EQ(set_.Vendor, std::wstring(259, L'v'));
}

}  // namespace
