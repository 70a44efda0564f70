#include "download/serial_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "download/crc.h"
#include "fakes/serial_fake.h"
#include "fakes/sync_fake.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::wstring>;
using Calls = std::vector<std::string>;
using platform::fake::FakeIo;

constexpr const wchar_t* kName = L"COM7\\QDLService";

// A port on a fake device and fake events, with the log captured.
class Rig {
  public:
    Rig() : use_(WithFakes()) { log_.emplace(); }
    ~Rig() { SetCurrentPort(nullptr); }

    bool Open(const wchar_t* name = kName) {
        const bool opened = port.Open(name);
        Mark();
        return opened;
    }
    // Later NewLines / NewCalls start here.
    void Mark() {
        lines_ = log_->Lines().size();
        calls_ = device().calls().size();
    }
    Lines NewLines() {
        Lines all = log_->Lines();
        return Lines(all.begin() + static_cast<long>(lines_), all.end());
    }
    Calls NewCalls() {
        Calls all = device().calls();
        return Calls(all.begin() + static_cast<long>(calls_), all.end());
    }
    platform::fake::FakeSerialState& device() { return serial.state(); }

    platform::fake::FakeSync sync;
    platform::fake::FakeSerialPorts serial;

  private:
    platform::Platform WithFakes() {
        platform::Platform p = platform::Get();
        p.sync = &sync;
        p.serial = &serial;
        return p;
    }
    platform::ScopedPlatform use_;
    std::optional<LogCapture> log_;
    size_t lines_ = 0;
    size_t calls_ = 0;

  public:
    cSerialPort port;  // closed before the fakes and the log go
};

FakeIo Pending(FakeIo::Wait wait, uint32_t waitCode = 0) {
    FakeIo io;
    io.start = FakeIo::Start::kPending;
    io.wait = wait;
    io.waitCode = waitCode;
    return io;
}

// ---------------------------------------------------------------------------------------------
// Open and Close

TEST(SerialPortOpen, ConfiguresThePortAndLogsIt) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    EXPECT_TRUE(rig.port.IsOpen());
    EXPECT_EQ(rig.device().opened_paths(), std::vector<std::wstring>{L"\\\\.\\COM7\\QDLService"});
    EXPECT_EQ(rig.device().calls(),
              (Calls{"Open", "GetState 28", "SetState", "SetTimeouts", "Purge 15"}));

    // Exactly these fields change; every other keeps what the driver reported.
    platform::SerialState expected = platform::fake::TypicalReportedState();
    expected.BaudRate = 115200;
    expected.ByteSize = 8;
    expected.Parity = 0;
    expected.StopBits = 0;
    expected.fOutxCtsFlow = 1;
    expected.fOutxDsrFlow = 1;
    expected.fDtrControl = 1;
    expected.fDsrSensitivity = 1;
    expected.fOutX = 0;
    expected.fInX = 0;
    expected.fErrorChar = 0;
    expected.fAbortOnError = 0;
    const platform::SerialState set = rig.device().last_state();
    EXPECT_EQ(std::memcmp(&set, &expected, sizeof set), 0);
    EXPECT_EQ(set.fRtsControl, 2u);
    EXPECT_EQ(set.fTXContinueOnXoff, 1u);
    EXPECT_EQ(set.fNull, 1u);
    EXPECT_EQ(set.fDummy2, 0x15A5Au);
    EXPECT_EQ(set.XonLim, 2048);
    EXPECT_EQ(set.EvtChar, 0x0D);

    const platform::SerialTimeouts t = rig.device().last_timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, 2u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 1000u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1u);
}

TEST(SerialPortOpen, LogsThePortNameAsGiven) {
    Rig rig;
    ASSERT_TRUE(rig.port.Open(kName));
    rig.Mark();
    rig.port.Close();
    ASSERT_TRUE(rig.port.Open(L"COM12\\QDLService"));
    EXPECT_EQ(rig.NewLines(), Lines{L"Port COM12\\QDLService is opened."});
}

TEST(SerialPortOpen, EveryFailureLeavesThePortClosed) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> script;
        Lines lines;
        size_t opens;  // CreateFileW calls
    };
    const Case cases[] = {
        {"I/O event", [](Rig& r) { r.sync.script().Fail("CreateEvent", 8); }, {}, 0},
        {"CreateFileW",
         [](Rig& r) { r.device().script().Fail("Open", 2); },
         {L"cSerialPort.Open: Unable to open port \\\\.\\COM7\\QDLService. ErrorCode: 2"},
         1},
        {"GetCommState",
         [](Rig& r) { r.device().script().Fail("GetState", 5); },
         {L"cSerialPort.Open: GetCommState error 5"},
         1},
        {"SetCommState",
         [](Rig& r) { r.device().script().Fail("SetState", 87); },
         {L"cSerialPort.Open: SetCommState error 87"},
         1},
        {"SetCommTimeouts",
         [](Rig& r) { r.device().script().Fail("SetTimeouts", 1); },
         {L"cSerialPort.Open: SetCommTimeouts error 1"},
         1},
        {"cancel event",
         [](Rig& r) { r.sync.script().Fail("CreateEvent", 1450, 1, 1); },
         {L"cSerialPort.Open: Unable to create Cancel Event, error 1450"},
         1},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.Mark();
        c.script(rig);
        EXPECT_FALSE(rig.port.Open(kName)) << c.name;
        EXPECT_FALSE(rig.port.IsOpen()) << c.name;
        EXPECT_EQ(rig.NewLines(), c.lines) << c.name;
        EXPECT_EQ(rig.device().opened_paths().size(), c.opens) << c.name;
        EXPECT_EQ(rig.device().open_devices(), 0) << c.name << ": the device is closed";
        // A closed port does nothing, and a cancel finds no event.
        SetCurrentPort(&rig.port);
        CancelCurrentPort();
        uint8_t byte = 0;
        uint32_t count = 1;
        EXPECT_FALSE(rig.port.Send(&byte, 1)) << c.name;
        EXPECT_FALSE(rig.port.Receive(&byte, count)) << c.name;
        EXPECT_FALSE(rig.port.ReceiveWithCRC(0, &byte)) << c.name;
        EXPECT_EQ(rig.NewLines(), c.lines) << c.name;
    }
}

TEST(SerialPortOpen, PurgeFailureIsIgnored) {
    Rig rig;
    rig.device().script().Fail("Purge", 5);
    EXPECT_TRUE(rig.port.Open(kName));
    EXPECT_EQ(rig.device().purges(), std::vector<uint32_t>{0x0F});
}

// The device path holds at most 259 characters; a longer one is refused without trying it,
// and the path in the message is cut to those 259.
TEST(SerialPortOpen, DevicePathBeyondMaxPathIsRefused) {
    Rig rig;
    const std::wstring longest(255, L'A');  // "\\.\" + 255 = 259
    EXPECT_TRUE(rig.port.Open(longest.c_str()));
    rig.Mark();
    const std::wstring tooLong = longest + L"B\\QDLService";
    EXPECT_FALSE(rig.port.Open(tooLong.c_str()));
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.NewLines(), Lines{L"cSerialPort.Open: Unable to open port \\\\.\\" + longest +
                                    L". ErrorCode: 206"});
    EXPECT_EQ(rig.NewCalls(), Calls{"Close"}) << "the open port closed, nothing else tried";
}

TEST(SerialPortOpen, OpeningAnOpenPortClosesItFirst) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.port.Open(kName));
    EXPECT_EQ(rig.NewCalls(),
              (Calls{"Close", "Open", "GetState 28", "SetState", "SetTimeouts", "Purge 15"}));
    EXPECT_EQ(rig.NewLines(), Lines{L"Port COM7\\QDLService is opened."});
    EXPECT_EQ(rig.device().open_devices(), 1);
}

TEST(SerialPortOpen, CloseAndDestructionReleaseTheDevice) {
    Rig rig;
    rig.port.Close();  // closed: nothing to do
    EXPECT_TRUE(rig.device().calls().empty());
    {
        cSerialPort other;
        ASSERT_TRUE(other.Open(kName));
        EXPECT_EQ(rig.device().open_devices(), 1);
    }
    EXPECT_EQ(rig.device().open_devices(), 0);
    ASSERT_TRUE(rig.Open());
    rig.port.Close();
    rig.port.Close();
    EXPECT_FALSE(rig.port.IsOpen());
    EXPECT_EQ(rig.NewCalls(), Calls{"Close"});
    EXPECT_TRUE(rig.NewLines().empty());
}

// ---------------------------------------------------------------------------------------------
// Send

TEST(SerialPortSend, EveryOutcome) {
    struct Case {
        const char* name;
        FakeIo io;
        bool result;
        Lines lines;
        Calls calls;
    };
    FakeIo shortAtOnce;
    shortAtOnce.limit = 3;
    FakeIo failsToStart;
    failsToStart.start = FakeIo::Start::kFail;
    failsToStart.startError = 5;
    FakeIo pendingShort = Pending(FakeIo::Wait::kIoDone);
    pendingShort.limit = 2;
    FakeIo resultFails = Pending(FakeIo::Wait::kIoDone);
    resultFails.resultError = 31;
    const Calls cancelled = {"StartWrite 4", "Wait 2000", "CancelIo", "Wait 2000",
                             "GetResult wait"};
    const Case cases[] = {
        {"at once", FakeIo{}, true, {}, {"StartWrite 4"}},
        {"short at once", shortAtOnce, false, {}, {"StartWrite 4"}},
        {"start fails",
         failsToStart,
         false,
         {L"SerialPort.Send: WriteFile failed with 5"},
         {"StartWrite 4"}},
        {"pending, then done",
         Pending(FakeIo::Wait::kIoDone),
         true,
         {},
         {"StartWrite 4", "Wait 2000", "GetResult wait"}},
        {"pending, then short",
         pendingShort,
         false,
         {},
         {"StartWrite 4", "Wait 2000", "GetResult wait"}},
        {"GetOverlappedResult fails",
         resultFails,
         false,
         {L"SerialPort.Send: GetOverlappedResult failed with 31"},
         {"StartWrite 4", "Wait 2000", "GetResult wait"}},
        {"time-out",
         Pending(FakeIo::Wait::kTimeout),
         false,
         {L"SerialPort.Send: Sending timed out."},
         cancelled},
        {"WAIT_FAILED",
         Pending(FakeIo::Wait::kFailed, 6),
         false,
         {L"SerialPort.Send: WaitForMultipleObjects failed with 6"},
         cancelled},
        {"WAIT_ABANDONED",
         Pending(FakeIo::Wait::kOther, 0x80),
         false,
         {L"SerialPort.Send: WaitForMultipleObjects returned 128"},
         cancelled},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.Open());
        rig.device().ScriptWrite(c.io);
        const Bytes bytes = {1, 2, 3, 4};
        EXPECT_EQ(rig.port.Send(bytes.data(), 4), c.result) << c.name;
        EXPECT_EQ(rig.NewLines(), c.lines) << c.name;
        EXPECT_EQ(rig.NewCalls(), c.calls) << c.name;
        EXPECT_TRUE(rig.port.IsOpen()) << c.name;
        // The port stays usable.
        EXPECT_TRUE(rig.port.Send(bytes.data(), 4)) << c.name;
    }
}

TEST(SerialPortSend, ZeroBytesAndClosedPort) {
    Rig rig;
    const uint8_t byte = 0;
    EXPECT_FALSE(rig.port.Send(&byte, 1));
    EXPECT_TRUE(rig.device().calls().empty());
    ASSERT_TRUE(rig.Open());
    EXPECT_TRUE(rig.port.Send(nullptr, 0));
    EXPECT_FALSE(rig.port.Send(nullptr, 1));
    EXPECT_TRUE(rig.NewLines().empty());
}

// ---------------------------------------------------------------------------------------------
// Receive

TEST(SerialPortReceive, EveryOutcome) {
    struct Case {
        const char* name;
        FakeIo io;
        Bytes input;
        bool result;
        uint32_t count;
        Lines lines;
        Calls calls;
    };
    FakeIo failsToStart;
    failsToStart.start = FakeIo::Start::kFail;
    failsToStart.startError = 1117;
    FakeIo resultFails = Pending(FakeIo::Wait::kIoDone);
    resultFails.resultError = 109;
    const Calls cancelled = {"StartRead 8", "Wait 2000", "CancelIo", "Wait 2000", "GetResult wait"};
    const Calls late = {"StartRead 8", "Wait 2000", "GetResult",
                        "CancelIo",    "Wait 2000", "GetResult wait"};
    const Case cases[] = {
        {"at once", FakeIo{}, {1, 2, 3}, true, 3, {}, {"StartRead 8"}},
        {"start fails",
         failsToStart,
         {},
         false,
         0,
         {L"SerialPort.Receive: ReadFile failed with 1117"},
         {"StartRead 8"}},
        {"pending, then done",
         Pending(FakeIo::Wait::kIoDone),
         {1, 2, 3, 4, 5, 6, 7, 8, 9},
         true,
         8,
         {},
         {"StartRead 8", "Wait 2000", "GetResult"}},
        {"GetOverlappedResult fails",
         resultFails,
         {1},
         false,
         0,
         {L"SerialPort.Receive: GetOverlappedResult failed with 109"},
         {"StartRead 8", "Wait 2000", "GetResult"}},
        {"time-out, nothing arrived",
         Pending(FakeIo::Wait::kTimeout),
         {},
         false,
         0,
         {L"SerialPort.Receive: Receiving timed out."},
         late},
        {"time-out, then the read ended after all",
         Pending(FakeIo::Wait::kLateDone),
         {0x7E, 0x02, 0xAA},
         false,
         0,
         {L"SerialPort.Receive: Receiving timed out.",
          L"SerialPort.Receive: Received 3 bytes only.", L"Rcvd: 7E 02 AA "},
         late},
        {"time-out, then the read ended empty",
         Pending(FakeIo::Wait::kLateDone),
         {},
         false,
         0,
         {L"SerialPort.Receive: Receiving timed out.",
          L"SerialPort.Receive: Received 0 bytes only."},
         late},
        {"WAIT_FAILED",
         Pending(FakeIo::Wait::kFailed, 6),
         {},
         false,
         0,
         {L"SerialPort.Receive: WaitForMultipleObjects failed with 6"},
         cancelled},
        {"other wait result",
         Pending(FakeIo::Wait::kOther, 0x81),
         {},
         false,
         0,
         {L"SerialPort.Receive: WaitForMultipleObjects returned 129"},
         cancelled},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.Open());
        rig.device().ScriptRead(c.io);
        rig.device().Arrive(c.input);
        uint8_t buffer[8] = {};
        uint32_t count = sizeof buffer;
        EXPECT_EQ(rig.port.Receive(buffer, count), c.result) << c.name;
        EXPECT_EQ(count, c.count) << c.name;
        EXPECT_EQ(Bytes(buffer, buffer + count), Bytes(c.input.begin(), c.input.begin() + count))
            << c.name;
        EXPECT_EQ(rig.NewLines(), c.lines) << c.name;
        EXPECT_EQ(rig.NewCalls(), c.calls) << c.name;
        EXPECT_TRUE(rig.port.IsOpen()) << c.name;
    }
}

TEST(SerialPortReceive, ClosedPortAndZeroCount) {
    Rig rig;
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(count, 4u) << "untouched on a closed port";
    ASSERT_TRUE(rig.Open());
    count = 4;
    EXPECT_FALSE(rig.port.Receive(nullptr, count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(rig.NewLines().empty());
}

// ---------------------------------------------------------------------------------------------
// ReceiveWithCRC

TEST(SerialPortReceiveWithCrc, EveryReply) {
    // A 2-byte payload 02 AA: its frame is 7E 02 AA A7 36 7E.
    const Bytes good = {0x7E, 0x02, 0xAA, 0xA7, 0x36, 0x7E};
    struct Case {
        const char* name;
        std::vector<Bytes> chunks;
        bool result;
        Lines lines;
        size_t left;  // bytes that stay for the next read
    };
    const Case cases[] = {
        {"exact", {good}, true, {L"Rcvd: 7E 02 AA A7 36 7E "}, 0},
        {"payload byte changed",
         {{0x7E, 0x03, 0xAA, 0xA7, 0x36, 0x7E}},
         false,
         {L"Rcvd: 7E 03 AA A7 36 7E ", L"SerialPort.ReceiveWithCRC: Invalid CRC of the response."},
         0},
        {"short",
         {{0x7E, 0x02, 0xAA}},
         false,
         {L"Rcvd: 7E 02 AA ",
          L"SerialPort.ReceiveWithCRC: Received only 3 bytes, 6 is the required amount"},
         0},
        {"two pieces",
         {{0x7E, 0x02, 0xAA, 0xA7}, {0x36, 0x7E}},
         false,
         {L"Rcvd: 7E 02 AA A7 ",
          L"SerialPort.ReceiveWithCRC: Received only 4 bytes, 6 is the required amount"},
         2},
        {"no flag at the start",
         {{0x7F, 0x02, 0xAA, 0xA7, 0x36, 0x7E}},
         false,
         {L"Rcvd: 7F 02 AA A7 36 7E ",
          L"SerialPort.ReceiveWithCRC: Not found wrapping 0x7E at the start of response."},
         0},
        {"no flag at the end",
         {{0x7E, 0x02, 0xAA, 0xA7, 0x36, 0x7F}},
         false,
         {L"Rcvd: 7E 02 AA A7 36 7F ",
          L"SerialPort.ReceiveWithCRC: Not found wrapping 0x7E at the end of response."},
         0},
        {"longer, the rest stays",
         {{0x7E, 0x02, 0xAA, 0xA7, 0x36, 0x7E, 0x7E, 0x01}},
         true,
         {L"Rcvd: 7E 02 AA A7 36 7E "},
         2},
        {"stuffed by the card",
         {{0x7E, 0x02, 0x7D, 0x5E, 0xA7, 0x36, 0x7E}},
         false,
         {L"Rcvd: 7E 02 7D 5E A7 36 ",
          L"SerialPort.ReceiveWithCRC: Not found wrapping 0x7E at the end of response."},
         1},
        {"nothing arrives", {}, false, {L"SerialPort.Receive: Receiving timed out."}, 0},
    };
    for (const Case& c : cases) {
        Rig rig;
        ASSERT_TRUE(rig.Open());
        for (const Bytes& chunk : c.chunks) {
            rig.device().Arrive(chunk);
        }
        uint8_t out[3] = {0x55, 0x55, 0x55};
        EXPECT_EQ(rig.port.ReceiveWithCRC(2, out), c.result) << c.name;
        EXPECT_EQ(rig.NewLines(), c.lines) << c.name;
        EXPECT_EQ(rig.device().pending_input(), c.left) << c.name;
        EXPECT_EQ(Bytes(out, out + 3),
                  c.result ? Bytes({0x02, 0xAA, 0x55}) : Bytes({0x55, 0x55, 0x55}))
            << c.name << ": n bytes copied on success only";
        EXPECT_EQ(rig.NewCalls().front(), "StartRead 6") << c.name;
    }
}

TEST(SerialPortReceiveWithCrc, EmptyPayloadAndLongReply) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    rig.device().Arrive({0x7E, 0x00, 0x00, 0x7E});
    EXPECT_TRUE(rig.port.ReceiveWithCRC(0, nullptr));

    // The largest payload that fits the 1024-byte reply buffer.
    Bytes frame(1024, 0x11);
    frame[0] = 0x7E;
    Bytes payload(frame.begin() + 1, frame.begin() + 1021);
    const uint16_t check = Crc16(payload.data(), payload.size());
    frame[1021] = static_cast<uint8_t>(check & 0xFF);
    frame[1022] = static_cast<uint8_t>(check >> 8);
    frame[1023] = 0x7E;
    rig.device().Arrive(frame);
    Bytes out(1020);
    EXPECT_TRUE(rig.port.ReceiveWithCRC(1020, out.data()));
    EXPECT_EQ(out, payload);
    EXPECT_EQ(rig.NewCalls(), (Calls{"StartRead 4", "StartRead 1024"}));
}

// A payload longer than 1020 bytes cannot come whole in the 1024-byte reply buffer: the read
// asks for 1024 bytes and the reply fails instead of being checked past the buffer's end.
TEST(SerialPortReceiveWithCrc, PayloadBeyondTheReplyBufferFails) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    Bytes frame(1100, 0x7E);
    rig.device().Arrive(frame);
    Bytes out(5000, 0x55);
    rig.Mark();
    EXPECT_FALSE(rig.port.ReceiveWithCRC(4000, out.data()));
    Lines lines = rig.NewLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(),
              L"SerialPort.ReceiveWithCRC: Received only 1024 bytes, 4004 is the required amount");
    EXPECT_EQ(lines.size(), 17u) << "16 trace lines (256 bytes) and the failure";
    EXPECT_EQ(rig.NewCalls().front(), "StartRead 1024");
    EXPECT_EQ(out, Bytes(5000, 0x55));
    EXPECT_EQ(rig.device().pending_input(), 76u);
}

// ---------------------------------------------------------------------------------------------
// Cancel

TEST(SerialPortCancel, WithoutACurrentPortNothingHappens) {
    Rig rig;
    CancelCurrentPort();
    ASSERT_TRUE(rig.Open());
    SetCurrentPort(nullptr);
    CancelCurrentPort();
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Receiving timed out."});
}

TEST(SerialPortCancel, BeforeOpenEndsTheFirstOperationOnly) {
    Rig rig;
    SetCurrentPort(&rig.port);
    CancelCurrentPort();  // closed: no cancel event yet; remembered
    ASSERT_TRUE(rig.Open());
    const uint8_t bytes[2] = {1, 2};
    EXPECT_FALSE(rig.port.Send(bytes, 2)) << "it would have completed at once";
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Send: Operation cancelled."});
    EXPECT_TRUE(rig.NewCalls().empty()) << "nothing is started";
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), (Lines{L"SerialPort.Send: Operation cancelled.",
                                     L"SerialPort.Receive: Receiving timed out."}));

    // A new download starts without it.
    SetCurrentPort(nullptr);
    CancelCurrentPort();
    SetCurrentPort(&rig.port);
    rig.port.Close();
    CancelCurrentPort();
    SetCurrentPort(&rig.port);
    ASSERT_TRUE(rig.Open());
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Receiving timed out."});

    // Each Open makes a new event: a signal given to the previous one is gone.
    CancelCurrentPort();
    ASSERT_TRUE(rig.Open());
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Receiving timed out."});
}

TEST(SerialPortCancel, BetweenOperationsEndsExactlyTheNextWait) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    SetCurrentPort(&rig.port);
    CancelCurrentPort();
    CancelCurrentPort();  // auto-reset: two signals before a wait are one
    const uint8_t bytes[2] = {1, 2};
    EXPECT_TRUE(rig.port.Send(bytes, 2)) << "done at once: no wait, the cancel stays";
    rig.device().ScriptWrite(Pending(FakeIo::Wait::kTimeout));
    EXPECT_FALSE(rig.port.Send(bytes, 2));
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), (Lines{L"SerialPort.Send: Operation cancelled.",
                                     L"SerialPort.Receive: Receiving timed out."}));
    Calls calls = rig.NewCalls();
    EXPECT_EQ(Calls(calls.begin() + 1, calls.begin() + 6),
              (Calls{"StartWrite 2", "Wait 2000", "CancelIo", "Wait 2000", "GetResult wait"}));
}

TEST(SerialPortCancel, CompletionWinsAndTheCancelStaysPending) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    SetCurrentPort(&rig.port);
    CancelCurrentPort();
    rig.device().ScriptRead(Pending(FakeIo::Wait::kIoDone));
    rig.device().Arrive({1, 2, 3});
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_TRUE(rig.port.Receive(buffer, count));
    EXPECT_EQ(count, 3u);
    count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Operation cancelled."});
}

TEST(SerialPortCancel, FromAnotherThreadDuringAReceive) {
    Rig rig;
    ASSERT_TRUE(rig.Open());
    SetCurrentPort(&rig.port);
    rig.device().ScriptRead(Pending(FakeIo::Wait::kBlock));
    std::thread control([&rig] {
        if (rig.device().AwaitBlockedWait(10000)) {
            CancelCurrentPort();
        }
    });
    uint8_t buffer[4];
    uint32_t count = 4;
    EXPECT_FALSE(rig.port.Receive(buffer, count));
    control.join();
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Operation cancelled."});
    EXPECT_EQ(rig.NewCalls(),
              (Calls{"StartRead 4", "Wait 2000", "CancelIo", "Wait 2000", "GetResult wait"}));

    // The next operation on the same port works normally.
    rig.device().Arrive({9, 8});
    count = 4;
    EXPECT_TRUE(rig.port.Receive(buffer, count));
    EXPECT_EQ(count, 2u);
}

// A driver that never ends a cancelled write or read (after a surprise removal): the wait for the
// end is bounded; the device, its overlapped record and the buffer the driver may still use are
// kept (the device stays open), and the port is closed without them. A late end of the request
// then touches only the port's buffer: had the driver been given the caller's (freed by then),
// AddressSanitizer would report it.
TEST(SerialPortCancel, AnIoThatNeverEndsIsLeftToTheDriver) {
    for (const bool write : {true, false}) {
        Rig rig;
        ASSERT_TRUE(rig.Open());
        FakeIo io = Pending(write ? FakeIo::Wait::kTimeout : FakeIo::Wait::kBlock);
        io.endsOnCancel = false;
        SetCurrentPort(&rig.port);
        std::thread control;
        {
            std::vector<uint8_t> caller = {1, 2, 3, 4};
            uint32_t count = 4;
            if (write) {
                rig.device().ScriptWrite(io);
                EXPECT_FALSE(rig.port.Send(caller.data(), count));
            } else {
                rig.device().ScriptRead(io);
                control = std::thread([&rig] {
                    if (rig.device().AwaitBlockedWait(10000)) {
                        CancelCurrentPort();
                    }
                });
                EXPECT_FALSE(rig.port.Receive(caller.data(), count));
                control.join();
                EXPECT_EQ(count, 0u);
            }
        }
        EXPECT_EQ(rig.NewLines(),
                  (Lines{write ? L"SerialPort.Send: Sending timed out."
                               : L"SerialPort.Receive: Operation cancelled.",
                         L"SerialPort: The cancelled operation has not ended; the port is given "
                         L"up."}))
            << write;
        EXPECT_EQ(rig.NewCalls(), (Calls{write ? "StartWrite 4" : "StartRead 4", "Wait 2000",
                                         "CancelIo", "Wait 2000"}))
            << write;
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_EQ(rig.device().open_devices(), 1) << "kept for the driver";
        rig.device().Arrive({9, 9, 9, 9});
        rig.device().EndCancelledIo();
        EXPECT_EQ(rig.device().written(), write ? (Bytes{1, 2, 3, 4}) : (Bytes{}));
        // The port opens again as a new one.
        ASSERT_TRUE(rig.port.Open(kName));
    }
}

// A cancel from the control thread at any moment of a download's start (before, during or after
// the port's Open made its cancel event, or during the first wait) ends the first operation.
TEST(SerialPortCancel, CancelRacingTheStartOfADownloadIsNeverLost) {
    Rig rig;
    for (int i = 0; i < 300; ++i) {
        cSerialPort port;
        SetCurrentPort(&port);
        std::thread control([] { CancelCurrentPort(); });
        EXPECT_TRUE(port.Open(kName));
        rig.device().ScriptRead(Pending(FakeIo::Wait::kBlock));
        rig.Mark();
        uint8_t buffer[4];
        uint32_t count = 4;
        EXPECT_FALSE(port.Receive(buffer, count));
        control.join();
        ASSERT_EQ(rig.NewLines(), Lines{L"SerialPort.Receive: Operation cancelled."}) << i;
        SetCurrentPort(nullptr);
    }
}

TEST(SerialPortCancel, DestroyedCurrentPortIsNoLongerCurrent) {
    Rig rig;
    auto port = std::make_unique<cSerialPort>();
    ASSERT_TRUE(port->Open(kName));
    SetCurrentPort(port.get());
    port.reset();
    CancelCurrentPort();  // must not touch the destroyed port
    EXPECT_EQ(rig.device().open_devices(), 0);
}

// A cancel from the control thread racing the download thread's open, reopen, operations and
// close: the cancel never signals an event that has been closed (the native events are real
// handles or file descriptors, so a late signal would be a use after close).
TEST(SerialPortCancel, RacingOpenAndCloseNeverSignalsAClosedEvent) {
    platform::fake::FakeSerialPorts serial;
    platform::Platform p = platform::Get();
    p.serial = &serial;
    platform::ScopedPlatform use(p);

    std::atomic<bool> done{false};
    std::thread control([&done] {
        while (!done.load()) {
            CancelCurrentPort();
        }
    });
    constexpr int kRounds = 2000;
    for (int i = 0; i < kRounds; ++i) {
        auto port = std::make_unique<cSerialPort>();
        SetCurrentPort(port.get());
        ASSERT_TRUE(port->Open(kName));
        if (i % 3 == 0) {
            ASSERT_TRUE(port->Open(kName));  // reopened while current
        }
        serial.state().ScriptRead(Pending(FakeIo::Wait::kTimeout));
        uint8_t buffer[4];
        uint32_t count = 4;
        EXPECT_FALSE(port->Receive(buffer, count));  // timed out or cancelled
        switch (i % 3) {
            case 0:
                SetCurrentPort(nullptr);
                port->Close();
                break;
            case 1:
                port->Close();  // closed while still current
                SetCurrentPort(nullptr);
                break;
            default:
                port.reset();  // destroyed while still current
                break;
        }
    }
    done = true;
    control.join();
    EXPECT_EQ(serial.state().open_devices(), 0);
}

}  // namespace
