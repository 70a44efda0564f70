#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/clock_fake.h"
#include "fakes/files_fake.h"
#include "fakes/sync_fake.h"
#include "log/log.h"
#include "log/start_keys.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

using platform::fake::FakeClock;
using platform::fake::FakeFileSystem;
using platform::fake::FakeSync;

constexpr const wchar_t* kFolder = L"C:\\logs";
constexpr const wchar_t* kPath = L"C:\\logs\\Dovrand.log";

std::vector<uint8_t> Utf16(const std::wstring& text) {
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    return bytes;
}

// Fake threads and events with two controls over time: the waits with a time limit made by one
// chosen thread run out at once (their limits are recorded), and new threads can be held
// before they run, as a writer thread of the lowest priority that gets no processor time.
class ControlledSync : public FakeSync {
  public:
    void HurryWaitsOf(std::thread::id thread) { hurried_ = thread; }
    std::vector<uint32_t> HurriedLimits() {
        std::lock_guard<std::mutex> lock(mutex_);
        return hurried_limits_;
    }
    platform::WaitResult WaitAny(platform::Event* const* events, size_t count,
                                 uint32_t timeoutMs) override {
        if (std::this_thread::get_id() != hurried_ || timeoutMs == platform::kInfinite) {
            return FakeSync::WaitAny(events, count, timeoutMs);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        hurried_limits_.push_back(timeoutMs);
        return {platform::WaitStatus::kTimeout, 0, 0};
    }

    void HoldNewThreads() { hold_ = true; }
    void ReleaseThreads() {
        std::lock_guard<std::mutex> lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }
    void WaitThreadsEnded() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return running_ == 0; });
    }
    std::unique_ptr<platform::Thread> StartThread(std::function<void()> body,
                                                  platform::ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++running_;
        }
        auto held = [this, body = std::move(body)]() mutable {
            {
                std::unique_lock<std::mutex> lock(mutex_);
                changed_.wait(lock, [this] { return !hold_; });
            }
            body();
            body = nullptr;  // what the body holds is released before the thread counts as ended
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
            changed_.notify_all();
        };
        std::unique_ptr<platform::Thread> thread = FakeSync::StartThread(std::move(held), error);
        if (!thread) {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
        }
        return thread;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread::id hurried_;
    std::vector<uint32_t> hurried_limits_;
    bool hold_ = false;
    int running_ = 0;
};

// A log on fakes: in-memory files, a fixed clock and working fake threads and events.
class LogTest : public testing::Test {
  protected:
    LogTest() {
        platform::Platform p = platform::Get();
        p.files = &files_;
        p.clock = &clock_;
        p.sync = &sync_;
        use_.emplace(p);
        files_.AddDirectory(kFolder);
        SetLogEnabled(true);
    }
    ~LogTest() override {
        LogClose(platform::kInfinite);
        SetLogEnabled(false);
        sync_.ReleaseThreads();
        sync_.WaitThreadsEnded();
    }

    std::wstring FileText() { return DecodeUtf16Le(files_.Contents(kPath)); }
    std::vector<std::wstring> FileLines() {
        return LogLines(DecodeUtf16Le(files_.Contents(kPath), 2));
    }

    FakeFileSystem files_;
    FakeClock clock_;
    ControlledSync sync_;
    std::optional<platform::ScopedPlatform> use_;
};

TEST_F(LogTest, OffLogCreatesNothingAndDropsEverything) {
    SetLogEnabled(false);
    EXPECT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    EXPECT_FALSE(LogIsOpen());
    LogWrite(L"dropped %d", 1);
    EXPECT_FALSE(LogFlush(true));
    LogClose(platform::kInfinite);
    EXPECT_FALSE(files_.HasFile(kPath));
    EXPECT_EQ(sync_.script().Calls("StartThread"), 0);
    EXPECT_EQ(sync_.script().Calls("CreateLock"), 0);
}

TEST_F(LogTest, NewFileGetsByteOrderMarkSeparatorAndExactLines) {
    clock_.Set({2010, 3, 5, 14, 7, 9, 7});
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    EXPECT_TRUE(LogIsOpen());
    LogWrite(L"Port %ls is opened.", L"COM7\\QDLService");
    LogWriteError(L"code %d (0x%x)", 5, 255);
    LogWrite(L"\n\nafter two line feeds, a bare\nline feed");
    LogClose(platform::kInfinite);
    EXPECT_FALSE(LogIsOpen());

    std::vector<uint8_t> expected = {0xFF, 0xFE};
    auto text = Utf16(
        L"\r\n\r\n"
        L"05-03-2010 14:07:09:0007 Port COM7\\QDLService is opened.\r\n"
        L"05-03-2010 14:07:09:0007 ERROR: code 5 (0xff)\r\n"
        L"\r\n\r\n05-03-2010 14:07:09:0007 after two line feeds, a bare\nline feed\r\n");
    expected.insert(expected.end(), text.begin(), text.end());
    EXPECT_EQ(files_.Contents(kPath), expected);
    EXPECT_EQ(files_.DiskFlushes(kPath), 1);
    EXPECT_EQ(sync_.last_priority(), platform::ThreadPriority::kLowest);
    EXPECT_EQ(sync_.last_spin_count(), 0x80000400u);
}

TEST_F(LogTest, FileWithContentGetsSeparatorOnlyAndEachOpenAppendsAnother) {
    files_.AddFile(kPath, {0xFF, 0xFE, 'x', 0});
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    LogWrite(L"one");
    EXPECT_EQ(LogOpen(L"Other", kFolder), 0);  // already open: nothing changes
    LogClose(platform::kInfinite);
    LogWrite(L"dropped while closed");
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    LogWrite(L"two");
    LogClose(platform::kInfinite);

    EXPECT_EQ(FileText(),
              L"\xFEFFx\r\n\r\n05-03-2010 14:07:09:0042 one\r\n"
              L"\r\n\r\n05-03-2010 14:07:09:0042 two\r\n");
    EXPECT_FALSE(files_.HasFile(L"C:\\logs\\Other.log"));
}

TEST_F(LogTest, MissingFolderIsCreatedButNotItsParent) {
    ASSERT_EQ(LogOpen(L"Dovrand", L"C:\\logs\\new"), 0);
    LogClose(platform::kInfinite);
    EXPECT_TRUE(files_.HasDirectory(L"C:\\logs\\new"));
    EXPECT_TRUE(files_.HasFile(L"C:\\logs\\new\\Dovrand.log"));

    EXPECT_EQ(LogOpen(L"Dovrand", L"C:\\missing\\new"), kLogFail);
    EXPECT_FALSE(IsLogEnabled());
    EXPECT_FALSE(files_.HasDirectory(L"C:\\missing\\new"));
}

struct OpenFailure {
    const char* call;
    int skip;
    int32_t result;
};

class LogOpenFailureTest : public LogTest, public testing::WithParamInterface<OpenFailure> {};

TEST_P(LogOpenFailureTest, FailedOpenReleasesEverythingAndSwitchesTheLogOff) {
    const OpenFailure& failure = GetParam();
    if (std::string(failure.call) == "OpenForAppend") {
        files_.script().Fail("OpenForAppend", 5, 2);
        files_.script().Fail("CreateDirectory", 0);  // the folder is made, the file still fails
    } else if (std::string(failure.call) == "CreateDirectory") {
        files_.script().Fail("OpenForAppend", 5);
        files_.script().Fail("CreateDirectory", 5);
    } else if (std::string(failure.call) == "GetFileSize") {
        files_.script().Fail("GetFileSize", 6);
    } else if (std::string(failure.call) == "GetFileInformationByHandle") {
        files_.script().Fail("GetFileInformationByHandle", 6);
    } else {
        sync_.script().Fail(failure.call, 8, 1, failure.skip);
    }
    EXPECT_EQ(LogOpen(L"Dovrand", kFolder), failure.result);
    EXPECT_FALSE(LogIsOpen());
    EXPECT_FALSE(IsLogEnabled());
    LogWrite(L"dropped");

    // Off for good: a later open does nothing, even when everything would work.
    files_.script().Clear();
    sync_.script().Clear();
    EXPECT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    EXPECT_FALSE(LogIsOpen());
    EXPECT_EQ(files_.script().Calls("OpenForAppend"), 0);
    EXPECT_TRUE(files_.Contents(kPath).empty());
}

INSTANTIATE_TEST_SUITE_P(EveryStep, LogOpenFailureTest,
                         testing::Values(OpenFailure{"CreateLock", 0, kLogOutOfMemory},
                                         OpenFailure{"CreateLock", 1, kLogOutOfMemory},
                                         OpenFailure{"OpenForAppend", 0, kLogFail},
                                         OpenFailure{"CreateDirectory", 0, kLogFail},
                                         OpenFailure{"GetFileSize", 0, kLogFail},
                                         OpenFailure{"GetFileInformationByHandle", 0, kLogFail},
                                         OpenFailure{"CreateEvent", 0, kLogEventFailed},
                                         OpenFailure{"CreateEvent", 1, kLogEventFailed},
                                         OpenFailure{"CreateEvent", 2, kLogEventFailed},
                                         OpenFailure{"StartThread", 0, kLogThreadFailed}));

// What someone else may have put where the log goes, and what the open makes of it.
struct LogPlant {
    const char* what;
    const wchar_t* directory;
    std::function<void(FakeFileSystem&)> plant;
    const wchar_t* refusedPath;  // null: the log opens
    const wchar_t* reason;
};

class LogPlantTest : public LogTest, public testing::WithParamInterface<LogPlant> {};

TEST_P(LogPlantTest, LogGoesOnlyIntoAFileOfItsOwn) {
    const LogPlant& row = GetParam();
    files_.AddFile(L"C:\\logs\\Dovrand.log", {'x', 0});
    row.plant(files_);
    LogRefusal refusal;
    const int32_t result = LogOpen(L"Dovrand", row.directory, &refusal);
    if (row.refusedPath == nullptr) {
        EXPECT_EQ(result, 0) << row.what;
        EXPECT_TRUE(LogIsOpen());
        return;
    }
    EXPECT_EQ(result, static_cast<int32_t>(0x80070005)) << row.what;
    EXPECT_EQ(refusal.path, row.refusedPath) << row.what;
    EXPECT_EQ(refusal.reason, row.reason) << row.what;
    EXPECT_FALSE(LogIsOpen());
    EXPECT_FALSE(IsLogEnabled());
    // Nothing written through what was found, nothing made beside it.
    EXPECT_EQ(files_.Contents(L"C:\\logs\\Dovrand.log"), (std::vector<uint8_t>{'x', 0}));
    EXPECT_EQ(files_.DiskFlushes(L"C:\\logs\\Dovrand.log"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Plants, LogPlantTest,
    testing::Values(
        LogPlant{"a hard link to another file", kFolder,
                 [](FakeFileSystem& f) { f.SetLinks(L"C:\\logs\\Dovrand.log", 2); },
                 L"C:\\logs\\Dovrand.log",
                 L"the file has more than one link (a hard link to another file)"},
        LogPlant{"a symbolic link", kFolder,
                 [](FakeFileSystem& f) { f.SetAttributes(L"C:\\logs\\Dovrand.log", 0x420); },
                 L"C:\\logs\\Dovrand.log", L"the file is a reparse point (a link to another file)"},
        LogPlant{"a folder under the log's name", kFolder,
                 [](FakeFileSystem& f) { f.SetAttributes(L"C:\\logs\\Dovrand.log", 0x10); },
                 L"C:\\logs\\Dovrand.log", L"the file is a folder"},
        LogPlant{"the folder replaced by a junction", kFolder,
                 [](FakeFileSystem& f) { f.SetAttributes(L"C:\\logs", 0x410); }, L"C:\\logs",
                 L"the folder is a reparse point (a junction or a link to another folder)"},
        LogPlant{"a junction named with a closing backslash", L"C:\\logs\\\\",
                 [](FakeFileSystem& f) { f.SetAttributes(L"C:\\logs", 0x410); }, L"C:\\logs",
                 L"the folder is a reparse point (a junction or a link to another folder)"},
        LogPlant{"a file of its own, one link", kFolder, [](FakeFileSystem&) {}, nullptr, nullptr},
        LogPlant{"an archived file", kFolder,
                 [](FakeFileSystem& f) { f.SetAttributes(L"C:\\logs\\Dovrand.log", 0x20); },
                 nullptr, nullptr}));

TEST_F(LogTest, FolderAndFileTheLogMakesAreProtected) {
    constexpr const wchar_t* kProtected =
        L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    files_.AddFile(L"C:\\logs\\Dovrand.log", {});
    ASSERT_EQ(LogOpen(L"Dovrand", L"C:\\logs\\new"), 0);
    LogClose(platform::kInfinite);
    EXPECT_EQ(files_.MadeWith(L"C:\\logs\\new"), std::wstring(kProtected));
    EXPECT_EQ(files_.MadeWith(L"C:\\logs\\new\\Dovrand.log"), std::wstring(kProtected));
    // A file that was there keeps what it has: the open makes nothing.
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    LogClose(platform::kInfinite);
    EXPECT_EQ(files_.MadeWith(L"C:\\logs\\Dovrand.log"), std::nullopt);
    ASSERT_EQ(LogOpen(L"Other", kFolder), 0);
    LogClose(platform::kInfinite);
    EXPECT_EQ(files_.MadeWith(L"C:\\logs\\Other.log"), std::wstring(kProtected));
}

TEST_F(LogTest, NameThatCannotTakeItsExtensionIsRefused) {
    std::wstring name(256, L'n');
    EXPECT_EQ(LogOpen(name.c_str(), kFolder), kLogFail);
    EXPECT_FALSE(IsLogEnabled());
}

TEST_F(LogTest, LineLimits) {
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    // Timestamp 25 + message + CR LF + terminator: 5000 fits the stack line, 5001 does not.
    for (size_t needed : {5000u, 5001u, 95000u}) {
        std::wstring message(needed - 28, L'a');
        LogWrite(L"%ls", message.c_str());
    }
    std::wstring tooLong(95001 - 28, L'b');
    LogWrite(L"%ls", tooLong.c_str());
    LogWriteError(L"%ls", std::wstring(95001 - 35, L'c').c_str());
    LogWriteError(L"%ls", std::wstring(95000 - 35, L'd').c_str());
    LogClose(platform::kInfinite);

    auto lines = FileLines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], std::wstring(4972, L'a'));
    EXPECT_EQ(lines[1], std::wstring(4973, L'a'));
    EXPECT_EQ(lines[2], std::wstring(94972, L'a'));
    EXPECT_EQ(lines[3], L"WriteV: too long message...");
    EXPECT_EQ(lines[4], L"WriteV: too long message...");
    EXPECT_EQ(lines[5], L"ERROR: " + std::wstring(94965, L'd'));
}

TEST_F(LogTest, ThousandsOfLeadingLineFeedsStayWithinTheLine) {
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    std::wstring format(3000, L'\n');
    format += L"after %d line feeds";
    LogWrite(format.c_str(), 3000);
    std::wstring tooMany(50000, L'\n');
    LogWrite(tooMany.c_str());
    LogClose(platform::kInfinite);

    std::wstring expected = L"\r\n\r\n";
    for (int i = 0; i < 3000; ++i) {
        expected += L"\r\n";
    }
    expected +=
        L"05-03-2010 14:07:09:0042 after 3000 line feeds\r\n"
        L"05-03-2010 14:07:09:0042 WriteV: too long message...\r\n";
    EXPECT_EQ(DecodeUtf16Le(files_.Contents(kPath), 2), expected);
}

TEST_F(LogTest, FullBufferIsFlushedByTheWritingThreadAndNothingIsLost) {
    std::atomic<int> writesOnThisThread{0};
    std::thread::id self = std::this_thread::get_id();
    files_.SetWriteHook([&] {
        if (std::this_thread::get_id() == self) {
            ++writesOnThisThread;
        }
    });
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    // 2000 lines of 100 characters: 200,000 bytes and more, faster than a 2-second batch.
    for (int i = 0; i < 2000; ++i) {
        LogWrite(L"%04d %ls", i, std::wstring(68, L'x').c_str());
    }
    LogClose(platform::kInfinite);

    EXPECT_GE(writesOnThisThread.load(), 1);
    auto lines = FileLines();
    ASSERT_EQ(lines.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        wchar_t number[8];
        std::swprintf(number, 8, L"%04d ", i);
        EXPECT_EQ(lines[i], number + std::wstring(68, L'x'));
    }
}

TEST_F(LogTest, ConcurrentWritersLoseAndTearNothing) {
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    constexpr int kThreads = 4;
    constexpr int kLines = 1500;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                LogWrite(L"writer %d line %d %ls", t, i, L"some text to make the line longer");
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    LogClose(platform::kInfinite);

    std::vector<int> next(kThreads, 0);
    for (const auto& line : FileLines()) {
        int t = -1;
        int i = -1;
        wchar_t tail[64] = {};
        ASSERT_EQ(std::swscanf(line.c_str(), L"writer %d line %d %63l[^\n]", &t, &i, tail), 3)
            << "torn line: " << testing::PrintToString(line);
        ASSERT_EQ(std::wstring(tail), L"some text to make the line longer");
        ASSERT_EQ(i, next[t]) << "writer " << t;  // in order, none lost
        ++next[t];
    }
    EXPECT_EQ(next, std::vector<int>(kThreads, kLines));
}

TEST_F(LogTest, CloseDuringWritesKeepsEverythingWrittenBeforeItBegan) {
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    constexpr int kThreads = 3;
    std::atomic<bool> stop{false};
    std::vector<std::atomic<int>> done(kThreads);
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([t, &stop, &done] {
            for (int i = 0; !stop.load(); ++i) {
                LogWrite(L"writer %d line %d", t, i);
                done[t].store(i + 1);
            }
        });
    }
    while (done[0].load() < 500 || done[1].load() < 500 || done[2].load() < 500) {
        std::this_thread::yield();
    }
    std::vector<int> before(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        before[t] = done[t].load();
    }
    LogClose(platform::kInfinite);
    stop = true;
    for (auto& writer : writers) {
        writer.join();
    }

    std::vector<int> next(kThreads, 0);
    for (const auto& line : FileLines()) {
        int t = -1;
        int i = -1;
        ASSERT_EQ(std::swscanf(line.c_str(), L"writer %d line %d", &t, &i), 2);
        ASSERT_EQ(i, next[t]);
        ++next[t];
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_GE(next[t], before[t]) << "writer " << t;
    }
}

// Blocks the writer thread inside its flush until released.
class BlockedFlush {
  public:
    explicit BlockedFlush(FakeFileSystem& files) {
        files.SetWriteHook([this] {
            std::unique_lock<std::mutex> lock(mutex_);
            entered_ = true;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
        });
    }
    void WaitEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return entered_; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

TEST_F(LogTest, LinesAppendedDuringTheWritersFlushSurviveTheClose) {
    BlockedFlush blocked(files_);
    sync_.script().Fail("WaitAny", 6);  // the writer's first wait ends at once: it flushes
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    blocked.WaitEntered();  // the writer is in the middle of writing the separator
    LogWrite(L"appended during the flush");
    EXPECT_TRUE(LogFlush(true));  // the other flush runs: this one writes nothing
    std::thread closer([] { LogClose(platform::kInfinite); });
    blocked.Release();
    closer.join();

    EXPECT_EQ(FileLines(), std::vector<std::wstring>{L"appended during the flush"});
    EXPECT_EQ(files_.DiskFlushes(kPath), 1);
}

TEST_F(LogTest, CloseThatStopsWaitingLeavesTheWriterItsStateAndItsLines) {
    BlockedFlush blocked(files_);
    sync_.script().Fail("WaitAny", 6);
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    blocked.WaitEntered();
    LogWrite(L"pending at the close");
    LogClose(10);  // the writer is stuck in its flush: the close gives up waiting
    EXPECT_FALSE(LogIsOpen());
    LogWrite(L"dropped after the close");
    blocked.Release();
    // The writer ends on its own and writes what is pending.
    while (files_.DiskFlushes(kPath) == 0) {
        std::this_thread::yield();
    }
    EXPECT_EQ(FileLines(), std::vector<std::wstring>{L"pending at the close"});
}

TEST_F(LogTest, WriterThatFindsNoRoomWhileAFileWriteIsStuckCutsItsLineAfterTwoSeconds) {
    BlockedFlush blocked(files_);
    sync_.script().Fail("WaitAny", 6);  // the writer's first wait ends at once: it flushes
    sync_.HurryWaitsOf(std::this_thread::get_id());
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    blocked.WaitEntered();  // the writer thread's write of the first 10 bytes does not return
    // Lines of 1002 characters (2004 bytes) behind those 10 bytes: 99 fit below 200,000 bytes.
    // The 100th waits for room in vain and keeps the room left, 1592 bytes; the 101st finds
    // none and is lost. Neither waits for the stuck write.
    for (int i = 0; i < 101; ++i) {
        LogWrite(L"%03d %ls", i, std::wstring(971, L'x').c_str());
    }
    EXPECT_EQ(sync_.HurriedLimits(), (std::vector<uint32_t>{2000, 2000}));
    blocked.Release();
    LogClose(platform::kInfinite);

    std::wstring text = DecodeUtf16Le(files_.Contents(kPath), 2);
    std::vector<std::wstring> lines = LogLines(text);
    ASSERT_EQ(lines.size(), 100u);
    for (int i = 0; i < 99; ++i) {
        wchar_t number[8];
        std::swprintf(number, 8, L"%03d ", i);
        ASSERT_EQ(lines[i], number + std::wstring(971, L'x'));
    }
    EXPECT_EQ(lines[99], L"099 " + std::wstring(767, L'x'));
    EXPECT_EQ(files_.Contents(kPath).size(), 2 + 8 + 99 * 2004 + 1592u);
}

TEST_F(LogTest, CloseWritesAndFlushesEverythingOnItsOwnThreadWhenTheWriterNeverRuns) {
    sync_.HoldNewThreads();
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    LogWrite(L"the last line before the shutdown");
    LogClose(0);  // the writer thread has not run at all
    EXPECT_EQ(FileLines(), std::vector<std::wstring>{L"the last line before the shutdown"});
    EXPECT_EQ(files_.DiskFlushes(kPath), 1);
    sync_.ReleaseThreads();
    sync_.WaitThreadsEnded();
    EXPECT_EQ(files_.DiskFlushes(kPath), 1);  // the writer thread, once it runs, has nothing to do
}

// What an echo received, in order.
std::vector<std::pair<bool, std::wstring>> g_echoed;
void Echo(bool isError, const wchar_t* text) {
    g_echoed.emplace_back(isError, text);
}

TEST_F(LogTest, EchoGetsEveryLineWhetherOrNotTheLogIsOpen) {
    g_echoed.clear();
    SetLogEcho(&Echo);
    SetLogEnabled(false);
    LogWrite(L"off %d", 1);
    SetLogEnabled(true);
    LogWriteError(L"enabled, not open: %ls", L"port");
    ASSERT_EQ(LogOpen(L"Dovrand", kFolder), 0);
    LogWrite(L"\nopen, %ls", std::wstring(6000, L'y').c_str());
    LogWrite(L"%ls", std::wstring(95000, L'z').c_str());
    SetLogEcho(nullptr);
    LogWrite(L"not echoed");
    LogClose(platform::kInfinite);

    using Echoed = std::vector<std::pair<bool, std::wstring>>;
    EXPECT_EQ(g_echoed, (Echoed{{false, L"off 1"},
                                {true, L"enabled, not open: port"},
                                {false, L"\nopen, " + std::wstring(6000, L'y')},
                                {false, L"WriteV: too long message..."}}));
    EXPECT_EQ(FileLines().size(), 3u);
}

// The log on the build's own files and threads: a real file in a folder the open creates.
TEST(NativeLogTest, WritesUtf16FileWithByteOrderMarkAndCreatesItsFolder) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / "dovrand-native-log" / "logs";
    fs::remove_all(folder.parent_path());
    fs::create_directories(folder.parent_path());
    SetLogEnabled(true);
    ASSERT_EQ(LogOpen(L"native", folder.wstring().c_str()), 0);
    LogWrite(L"Port %ls is opened.", L"COM7\\QDLService");
    LogWriteError(L"\u00e9t\u00e9 %d", 2);
    LogClose(platform::kInfinite);
    SetLogEnabled(false);

    std::ifstream file(folder / "native.log", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    file.close();
    ASSERT_GE(bytes.size(), 10u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(LogLines(DecodeUtf16Le(bytes, 2)),
              (std::vector<std::wstring>{L"Port COM7\\QDLService is opened.",
                                         L"ERROR: \u00e9t\u00e9 2"}));
    fs::remove_all(folder.parent_path());
}

TEST(ErrorTextTest, SystemTextWithoutLineBreakAndCode) {
    platform::fake::FakeSystemText text;
    text.Add(0x80004005u, L"Unspecified error\r\n");
    platform::Platform p = platform::Get();
    p.text = &text;
    platform::ScopedPlatform use(p);
    EXPECT_STREQ(ErrorText(5), L"Access is denied. (0x5)");
    EXPECT_STREQ(ErrorText(0x80004005u), L"Unspecified error (0x80004005)");
    EXPECT_STREQ(ErrorText(12345), L"");
}

TEST(ErrorTextTest, EachThreadHasItsOwnText) {
    platform::fake::FakeSystemText text;
    platform::Platform p = platform::Get();
    p.text = &text;
    platform::ScopedPlatform use(p);
    std::atomic<int> mismatches{0};
    auto render = [&mismatches](uint32_t code, const wchar_t* expected) {
        for (int i = 0; i < 2000; ++i) {
            const wchar_t* rendered = ErrorText(code);
            if (std::wstring(rendered) != expected) {
                ++mismatches;
            }
        }
    };
    std::thread other(render, 2, L"The system cannot find the file specified. (0x2)");
    render(5, L"Access is denied. (0x5)");
    other.join();
    EXPECT_EQ(mismatches.load(), 0);
}

TEST(ErrorTextTest, NativeTextOfAccessDenied) {
    std::wstring text = ErrorText(5);
    ASSERT_GT(text.size(), 6u);
    EXPECT_EQ(text.substr(text.size() - 6), L" (0x5)");
    EXPECT_NE(text[text.size() - 7], L'\n');
    EXPECT_STREQ(ErrorText(0x2BADF00Du), L"");
}

TEST(LogCaptureTest, CapturesLinesWithoutTimestamps) {
    LogCapture capture;
    LogWrite(L"first %d", 1);
    LogWriteError(L"second");
    EXPECT_EQ(capture.Lines(), (std::vector<std::wstring>{L"first 1", L"ERROR: second"}));
}

}  // namespace
