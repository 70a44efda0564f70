#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "qdlload_options.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(QdlloadOptionsTest, ReadsAGobi2000Download) {
    QdlloadOptions options;
    std::wstring error;
    ASSERT_TRUE(
        ParseQdlloadArguments({L"--amss", L"C:\\fw\\AMSS.mbn", L"COM7", L"--generation", L"2",
                               L"--apps", L"C:\\fw\\APPS.mbn", L"--uqcn", L"C:\\fw\\UQCN.mbn",
                               L"--vendor", L"Lenovo", L"--log", L"C:\\logs"},
                              &options, &error))
        << error;
    EXPECT_EQ(options.mode, QdlloadOptions::Mode::kPort);
    EXPECT_EQ(options.port, L"COM7");
    EXPECT_EQ(options.files.Generation, 2);
    EXPECT_EQ(options.files.Amss, L"C:\\fw\\AMSS.mbn");
    EXPECT_EQ(options.files.Apps, L"C:\\fw\\APPS.mbn");
    EXPECT_EQ(options.files.Uqcn, L"C:\\fw\\UQCN.mbn");
    EXPECT_EQ(options.files.Vendor, L"Lenovo");
    EXPECT_TRUE(options.files.UsePreference);
    EXPECT_EQ(options.logDirectory, L"C:\\logs");
}

TEST(QdlloadOptionsTest, ReadsAGobi1000DownloadWithoutPreferenceOrLog) {
    QdlloadOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseQdlloadArguments(
        {L"COM12", L"--generation", L"1", L"--amss", L"a", L"--apps", L"b", L"--nopreference"},
        &options, &error))
        << error;
    EXPECT_EQ(options.port, L"COM12");
    EXPECT_EQ(options.files.Generation, 1);
    EXPECT_TRUE(options.files.Uqcn.empty());
    EXPECT_TRUE(options.files.Vendor.empty());
    EXPECT_FALSE(options.files.UsePreference);
    EXPECT_TRUE(options.logDirectory.empty());
}

TEST(QdlloadOptionsTest, ReadsAnAutomaticLoad) {
    QdlloadOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseQdlloadArguments({L"--nopreference", L"--auto", L"--log", L"C:\\logs"},
                                      &options, &error))
        << testing::PrintToString(error);
    EXPECT_EQ(options.mode, QdlloadOptions::Mode::kAuto);
    EXPECT_FALSE(options.files.UsePreference);
    EXPECT_EQ(options.logDirectory, L"C:\\logs");
    ASSERT_TRUE(ParseQdlloadArguments({L"--auto"}, &options, &error));
    EXPECT_TRUE(options.files.UsePreference);
    EXPECT_TRUE(options.port.empty());
}

TEST(QdlloadOptionsTest, HelpWins) {
    for (const wchar_t* help : {L"-h", L"--help", L"-?"}) {
        QdlloadOptions options;
        std::wstring error;
        ASSERT_TRUE(ParseQdlloadArguments({L"COM7", L"--generation", L"1", help}, &options, &error))
            << help;
        EXPECT_EQ(options.mode, QdlloadOptions::Mode::kHelp);
    }
}

TEST(QdlloadOptionsTest, UsageErrors) {
    const std::wstring longPath(260, L'x');
    const Args g1 = {L"COM7", L"--generation", L"1", L"--amss", L"a", L"--apps", L"b"};
    auto with = [&](Args extra) {
        Args args = g1;
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    const struct {
        Args args;
        std::wstring error;
    } cases[] = {
        {{}, L"no port given"},
        {{L"--generation", L"1", L"--amss", L"a", L"--apps", L"b"}, L"no port given"},
        {with({L"COM8"}), L"more than one port: COM7 and COM8"},
        {{L"COM7", L"--amss", L"a", L"--apps", L"b"}, L"--generation is missing"},
        {{L"COM7", L"--generation", L"3", L"--amss", L"a", L"--apps", L"b"},
         L"--generation is 1 or 2, not 3"},
        {{L"COM7", L"--generation", L"1", L"--apps", L"b"}, L"--amss is missing"},
        {{L"COM7", L"--generation", L"1", L"--amss", L"a"}, L"--apps is missing"},
        {{L"COM7", L"--generation", L"2", L"--amss", L"a", L"--apps", L"b"},
         L"--uqcn is needed with --generation 2"},
        {with({L"--uqcn", L"c"}), L"--uqcn is for --generation 2 only"},
        {with({L"--log"}), L"--log needs a value"},
        {with({L"--vendor", L"--nopreference"}), L"--vendor needs a value"},
        {with({L"--amss", L"again"}), L"--amss is given twice"},
        {with({L"--nopreference", L"--nopreference"}), L"--nopreference is given twice"},
        {with({L"--auto"}), L"--auto takes only --nopreference, --log and --verbose"},
        {{L"--auto", L"COM7"}, L"--auto takes only --nopreference, --log and --verbose"},
        {{L"--auto", L"--vendor", L"Lenovo"},
         L"--auto takes only --nopreference, --log and --verbose"},
        {{L"--auto", L"--auto"}, L"--auto is given twice"},
        {with({L"--log", longPath}), L"--log is longer than 259 characters"},
        {{L"COM7", L"--generation", L"1", L"--amss", longPath, L"--apps", L"b"},
         L"--amss is longer than 259 characters"},
        {with({L"--speed", L"9600"}), L"unknown option --speed"},
        {with({L"-v"}), L"unknown option -v"},
        {{L"", L"--generation", L"1", L"--amss", L"a", L"--apps", L"b"}, L"argument 1 is empty"},
        {with({L"--log", L""}), L"argument 9 is empty"},
        {{L"COM7", L"--generation", L"2", L"--amss", L"a", L"--apps", L"b", L"--uqcn", L"c"},
         L"--generation 2 looks for the preferred images in the card maker's folder: give "
         L"--vendor NAME, or --nopreference"},
    };
    for (const auto& c : cases) {
        QdlloadOptions options;
        std::wstring error;
        EXPECT_FALSE(ParseQdlloadArguments(c.args, &options, &error)) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

TEST(QdlloadOptionsTest, Gobi2000WithoutVendorNeedsNoPreferenceAndVerboseIsRead) {
    QdlloadOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseQdlloadArguments({L"COM7", L"--generation", L"2", L"--amss", L"a", L"--apps",
                                       L"b", L"--uqcn", L"c", L"--nopreference", L"--verbose"},
                                      &options, &error))
        << error;
    EXPECT_FALSE(options.files.UsePreference);
    EXPECT_TRUE(options.verbose);
}

TEST(QdlloadOptionsTest, AcceptsPathsOf259Characters) {
    const std::wstring path(259, L'p');
    QdlloadOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseQdlloadArguments(
        {L"COM7", L"--generation", L"1", L"--amss", path, L"--apps", path}, &options, &error))
        << error;
    EXPECT_EQ(options.files.Amss, path);
}

}  // namespace

#ifdef _WIN32
#include "console_text.h"
#include "fakes/console_fake.h"
#include "platform/platform.h"

namespace {

// In the Windows build qdlload writes through the platform's console, which shows every letter
// on a console: standard output and standard error each to its own.
TEST(QdlloadConsoleTest, WritesWideTextThroughThePlatformsConsole) {
    platform::fake::FakeConsole console;
    platform::Platform p = platform::Get();
    p.console = &console;
    platform::ScopedPlatform use(p);
    WriteText(stdout, L"qdlload: firmware loaded into COM7 from C:\\Firmware \u00e9t\u00e9\n");
    WriteText(stderr, L"ERROR: C:\\\u0424\\AMSS.mbn\n");
    EXPECT_EQ(console.Text(),
              L"qdlload: firmware loaded into COM7 from C:\\Firmware \u00e9t\u00e9\n");
    EXPECT_EQ(console.ErrorText(), L"ERROR: C:\\\u0424\\AMSS.mbn\n");
}

}  // namespace
#endif
