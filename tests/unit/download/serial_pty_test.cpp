// The serial port over a real tty on the host: a pty made in the test, reached through the
// dosdevices mapping, with the test playing the card on the pty's master side.
#ifndef _WIN32

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "download/frame.h"
#include "download/serial_port.h"
#include "platform/platform.h"
#include "platform/posix/serial_posix.h"
#include "platform/serial.h"
#include "platform/sync.h"
#include "support/byte_pattern.h"
#include "support/log_capture.h"

namespace {

using Lines = std::vector<std::wstring>;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A pty whose slave is "\\.\COM7\QDLService" (dosdevices/com7/QDLService -> /dev/pts/N), and
// the card's side of the line on its master.
class SerialPtyTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        termios t;
        ASSERT_EQ(tcgetattr(slave_, &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
        char pattern[] = "/tmp/dovrand-serial-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        std::filesystem::create_directory(root_ + "/com7");
        std::filesystem::create_symlink(ttyname(slave_), root_ + "/com7/QDLService");
        setenv("DOVRAND_DOSDEVICES", root_.c_str(), 1);
    }

    void TearDown() override {
        unsetenv("DOVRAND_DOSDEVICES");
        std::filesystem::remove_all(root_);
        if (master_ >= 0) {
            close(master_);
        }
        close(slave_);
    }

    // Reads exactly count bytes from the master, or what came within timeoutMs.
    Bytes PeerRead(size_t count, int timeoutMs = 5000) {
        Bytes bytes;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        uint8_t chunk[65536];
        while (bytes.size() < count) {
            const int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count());
            pollfd p{master_, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0) {
                break;
            }
            const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (n <= 0) {
                break;
            }
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    void PeerWrite(const Bytes& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::unique_ptr<platform::SerialDevice> OpenDevice(platform::Event* ioEvent) {
        platform::ErrorCode error = 0;
        auto device = platform::Get().serial->Open(L"\\\\.\\COM7\\QDLService", ioEvent, &error);
        EXPECT_EQ(error, 0u);
        return device;
    }

    // The device opened with the port's time-outs and a 256 KiB write left pending because the
    // card's side does not read.
    struct PendingWrite {
        std::unique_ptr<platform::Event> ioEvent;
        std::unique_ptr<platform::Event> cancel;
        std::unique_ptr<platform::SerialDevice> device;
        Bytes block = Pattern(256 * 1024);
    };
    void StartPendingWrite(PendingWrite& w) {
        platform::Sync& sync = *platform::Get().sync;
        w.ioEvent = sync.CreateEvent(true, true, nullptr);
        w.cancel = sync.CreateEvent(false, false, nullptr);
        w.device = OpenDevice(w.ioEvent.get());
        ASSERT_TRUE(w.device);
        ASSERT_EQ(w.device->SetTimeouts({2, 0, 0, 1000, 1}), 0u);
        ASSERT_EQ(
            w.device->StartWrite(w.block.data(), static_cast<uint32_t>(w.block.size())).status,
            platform::IoStart::kPending);
        EXPECT_EQ(w.device->Wait(w.cancel.get(), 20).status, platform::IoWait::kTimeout);
    }

    int master_ = -1;
    int slave_ = -1;
    std::string root_;
};

TEST(SerialDevicePath, MapsLikeTheDosdevicesFolder) {
    unsetenv("DOVRAND_DOSDEVICES");
    EXPECT_EQ(platform::posix::SerialDevicePath(L"\\\\.\\COM7\\QDLService"),
              "/tmp/dovrand/dosdevices/com7/QDLService");
    setenv("DOVRAND_DOSDEVICES", "/srv/dd", 1);
    struct Case {
        const wchar_t* path;
        const char* host;
    };
    const Case cases[] = {
        {L"\\\\.\\COM7\\QDLService", "/srv/dd/com7/QDLService"},
        {L"\\\\.\\Com12", "/srv/dd/com12"},
        {L"\\\\.\\COM3\\Sub\\QDLService", "/srv/dd/com3/Sub/QDLService"},
        {L"\\\\.\\COM\u00C47\\X",
         "/srv/dd/com\xC3\x84"
         "7/X"},  // ASCII letters only
        {L"/dev/ttyS0", "/dev/ttyS0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::posix::SerialDevicePath(c.path), c.host);
    }
    unsetenv("DOVRAND_DOSDEVICES");
}

TEST_F(SerialPtyTest, MissingPortIsAFailedOpen) {
    LogCapture log;
    cSerialPort port;
    EXPECT_FALSE(port.Open(L"COM9\\QDLService"));
    EXPECT_EQ(
        log.Lines(),
        Lines{L"cSerialPort.Open: Unable to open port \\\\.\\COM9\\QDLService. ErrorCode: 2"});
}

TEST_F(SerialPtyTest, OpenSetsTheLineAndKeepsTheOtherFields) {
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    termios t;
    ASSERT_EQ(tcgetattr(slave_, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

    auto ioEvent = platform::Get().sync->CreateEvent(true, true, nullptr);
    auto device = OpenDevice(ioEvent.get());
    ASSERT_TRUE(device);
    platform::SerialState state{};
    state.DCBlength = sizeof state;
    ASSERT_EQ(device->GetState(&state), 0u);
    EXPECT_EQ(state.BaudRate, 115200u);
    EXPECT_EQ(state.ByteSize, 8);
    state.XonLim = 1234;
    state.fDsrSensitivity = 1;
    ASSERT_EQ(device->SetState(state), 0u);
    platform::SerialState back{};
    back.DCBlength = sizeof back;
    ASSERT_EQ(device->GetState(&back), 0u);
    EXPECT_EQ(back.XonLim, 1234);
    EXPECT_EQ(back.fDsrSensitivity, 1u);
    state.BaudRate = 12345;
    EXPECT_EQ(device->SetState(state), platform::error::kInvalidParameter);
}

TEST_F(SerialPtyTest, FrameOutReplyIn) {
    LogCapture log;
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    const Bytes payload = {0x29, 0, 0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(SendFramedMessage(port, payload.data(), payload.size()));
    EXPECT_EQ(PeerRead(13), (Bytes{0x7E, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x74, 0x7E}));

    PeerWrite({0x7E, 0x02, 0xAA, 0xA7, 0x36, 0x7E});
    uint8_t out[2] = {};
    ASSERT_TRUE(port.ReceiveWithCRC(2, out));
    EXPECT_EQ(out[0], 0x02);
    EXPECT_EQ(out[1], 0xAA);
    EXPECT_EQ(log.Lines(), (Lines{L"Port COM7\\QDLService is opened.",
                                  L"Send: 7E 29 00 00 00 00 00 00 00 00 E9 74 7E ",
                                  L"Rcvd: 7E 02 AA A7 36 7E "}));
}

TEST_F(SerialPtyTest, AReadEndsAtAGapAndTheRestStays) {
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    // The peer writes once the read is about to start, and leaves a gap far longer than the
    // read's 2 ms quiet time, so that even a slow machine sees two pieces.
    std::atomic<bool> reading{false};
    std::thread peer([this, &reading] {
        while (!reading.load()) {
            std::this_thread::yield();
        }
        PeerWrite(Pattern(20));
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        PeerWrite(Pattern(33));
    });
    uint8_t buffer[53];
    uint32_t count = sizeof buffer;
    reading = true;
    ASSERT_TRUE(port.Receive(buffer, count));
    peer.join();
    EXPECT_EQ(Bytes(buffer, buffer + count), Pattern(20));
    count = sizeof buffer;
    ASSERT_TRUE(port.Receive(buffer, count));
    EXPECT_EQ(Bytes(buffer, buffer + count), Pattern(33));

    // Longer than asked for: only the count is taken.
    PeerWrite(Pattern(40));
    count = 25;
    ASSERT_TRUE(port.Receive(buffer, count));
    EXPECT_EQ(count, 25u);
    count = sizeof buffer;
    ASSERT_TRUE(port.Receive(buffer, count));
    const Bytes forty = Pattern(40);
    EXPECT_EQ(Bytes(buffer, buffer + count), Bytes(forty.begin() + 25, forty.end()));
}

TEST_F(SerialPtyTest, NoReplyTimesOutAndLateBytesStay) {
    LogCapture log;
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    uint8_t out[2];
    EXPECT_FALSE(port.ReceiveWithCRC(2, out));
    PeerWrite({0x7E, 0x02, 0xAA, 0xA7, 0x36, 0x7E});
    EXPECT_TRUE(port.ReceiveWithCRC(2, out));
    EXPECT_EQ(log.Lines(),
              (Lines{L"Port COM7\\QDLService is opened.",
                     L"SerialPort.Receive: Receiving timed out.", L"Rcvd: 7E 02 AA A7 36 7E "}));
}

TEST_F(SerialPtyTest, CancelFromAnotherThread) {
    LogCapture log;
    cSerialPort port;
    SetCurrentPort(&port);
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    Clock::time_point cancelledAt;
    std::thread control([&cancelledAt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        cancelledAt = Clock::now();
        CancelCurrentPort();
    });
    uint8_t buffer[8];
    uint32_t count = sizeof buffer;
    EXPECT_FALSE(port.Receive(buffer, count));
    const auto returnedAt = Clock::now();
    control.join();
    std::printf("cancel to return: %.3f ms\n",
                std::chrono::duration<double, std::milli>(returnedAt - cancelledAt).count());
    PeerWrite({1, 2, 3});
    count = sizeof buffer;
    EXPECT_TRUE(port.Receive(buffer, count));
    EXPECT_EQ(count, 3u);
    SetCurrentPort(nullptr);
    EXPECT_EQ(log.Lines(), (Lines{L"Port COM7\\QDLService is opened.",
                                  L"SerialPort.Receive: Operation cancelled."}));
}

TEST_F(SerialPtyTest, LargeBlockToAReadingPeer) {
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    const Bytes block = Pattern(256 * 1024);
    Bytes received;
    std::thread peer([&] { received = PeerRead(block.size()); });
    const auto start = Clock::now();
    EXPECT_TRUE(port.Send(block.data(), static_cast<uint32_t>(block.size())));
    peer.join();
    std::printf("256 KiB through the pty: %.3f ms\n", MsSince(start));
    EXPECT_TRUE(received == block);
}

TEST_F(SerialPtyTest, WriteToAPeerThatDoesNotReadTimesOut) {
    LogCapture log;
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    const Bytes block = Pattern(256 * 1024);
    EXPECT_FALSE(port.Send(block.data(), static_cast<uint32_t>(block.size())));
    EXPECT_EQ(log.Lines(),
              (Lines{L"Port COM7\\QDLService is opened.", L"SerialPort.Send: Sending timed out."}));
    // What the line took is a prefix of the block; the port still works.
    const Bytes taken = PeerRead(block.size(), 200);
    EXPECT_GT(taken.size(), 0u);
    EXPECT_LT(taken.size(), block.size());
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), block.begin()));
    const uint8_t more[3] = {7, 8, 9};
    EXPECT_TRUE(port.Send(more, 3));
    EXPECT_EQ(PeerRead(3), (Bytes{7, 8, 9}));
}

// A block that the line cannot take because the card has stopped reading: a cancel from another
// thread ends the Send, the card has a prefix of the block, and the port still works.
TEST_F(SerialPtyTest, CancelFromAnotherThreadEndsABlockedWrite) {
    LogCapture log;
    cSerialPort port;
    SetCurrentPort(&port);
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    const Bytes block = Pattern(256 * 1024);
    std::thread control([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        CancelCurrentPort();
    });
    EXPECT_FALSE(port.Send(block.data(), static_cast<uint32_t>(block.size())));
    control.join();
    SetCurrentPort(nullptr);
    EXPECT_EQ(log.Lines(), (Lines{L"Port COM7\\QDLService is opened.",
                                  L"SerialPort.Send: Operation cancelled."}));
    const Bytes taken = PeerRead(block.size(), 200);
    EXPECT_GT(taken.size(), 0u);
    EXPECT_LT(taken.size(), block.size());
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), block.begin()));
    const Bytes again = Pattern(64 * 1024);
    Bytes received;
    std::thread peer([&] { received = PeerRead(again.size()); });
    EXPECT_TRUE(port.Send(again.data(), static_cast<uint32_t>(again.size())));
    peer.join();
    EXPECT_TRUE(received == again);
}

// Blocks one after the other to a card that reads in small pieces: every byte arrives once and
// in order, and each write with its zero-byte write completes.
TEST_F(SerialPtyTest, ManyBlocksToASlowReader) {
    cSerialPort port;
    ASSERT_TRUE(port.Open(L"COM7\\QDLService"));
    const Bytes data = Pattern(4 * 256 * 1024 + 1000);
    Bytes received;
    std::thread peer([&] {
        uint8_t chunk[700];
        while (received.size() < data.size()) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 5000) <= 0) {
                break;
            }
            const ssize_t n =
                read(master_, chunk, std::min(sizeof chunk, data.size() - received.size()));
            if (n <= 0) {
                break;
            }
            received.insert(received.end(), chunk, chunk + n);
        }
    });
    for (size_t offset = 0; offset < data.size(); offset += 256 * 1024) {
        const uint32_t n =
            static_cast<uint32_t>(std::min<size_t>(256 * 1024, data.size() - offset));
        EXPECT_TRUE(port.Send(data.data() + offset, n));
        EXPECT_TRUE(port.Send(data.data() + offset, 0));
    }
    peer.join();
    EXPECT_TRUE(received == data);
}

// The card's side of the line closing while a block is still being written: the write ends
// with 21 (not ready) and what the line took before.
TEST_F(SerialPtyTest, DeviceWriteEndsWhenThePeerHangsUp) {
    PendingWrite w;
    ASSERT_NO_FATAL_FAILURE(StartPendingWrite(w));
    auto& device = w.device;
    auto& cancel = w.cancel;
    const Bytes& block = w.block;
    close(master_);
    master_ = -1;
    EXPECT_EQ(device->Wait(cancel.get(), 2000).status, platform::IoWait::kIoDone);
    uint32_t count = 0;
    EXPECT_EQ(device->GetResult(true, &count), platform::serial_error::kNotReady);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, block.size());
}

// A device closed with a write still pending ends it; the close does not wait for the card.
TEST_F(SerialPtyTest, DeviceClosedWithAWritePending) {
    PendingWrite w;
    ASSERT_NO_FATAL_FAILURE(StartPendingWrite(w));
    const Bytes& block = w.block;
    w.device.reset();
    const Bytes taken = PeerRead(block.size(), 200);
    EXPECT_GT(taken.size(), 0u);
    EXPECT_LT(taken.size(), block.size());
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), block.begin()));
}

// The device itself: a cancelled write ends with 995 and the count the line took; a completion
// is reported before a cancel that is also set; a closed peer ends a read with 109.
TEST_F(SerialPtyTest, DeviceCancelCountAndOrder) {
    PendingWrite w;
    ASSERT_NO_FATAL_FAILURE(StartPendingWrite(w));
    auto& device = w.device;
    auto& cancel = w.cancel;
    const Bytes& block = w.block;
    uint32_t count = 0;
    EXPECT_EQ(device->GetResult(false, &count), platform::serial_error::kIoIncomplete);
    EXPECT_EQ(device->CancelIo(), 0u);
    EXPECT_EQ(device->GetResult(true, &count), platform::error::kOperationAborted);
    const Bytes taken = PeerRead(block.size(), 200);
    EXPECT_EQ(taken.size(), count);
    EXPECT_GT(count, 0u);
    EXPECT_TRUE(std::equal(taken.begin(), taken.end(), block.begin()));

    EXPECT_EQ(device->StartWrite(block.data(), 0).status, platform::IoStart::kDone);

    uint8_t buffer[16];
    ASSERT_EQ(device->StartRead(buffer, 4).status, platform::IoStart::kPending);
    PeerWrite({1, 2, 3, 4});
    cancel->Set();
    EXPECT_EQ(device->Wait(cancel.get(), 2000).status, platform::IoWait::kIoDone);
    EXPECT_EQ(device->GetResult(false, &count), 0u);
    EXPECT_EQ(count, 4u);
    ASSERT_EQ(device->StartRead(buffer, sizeof buffer).status, platform::IoStart::kPending);
    EXPECT_EQ(device->Wait(cancel.get(), 2000).status, platform::IoWait::kCancelled);
    device->CancelIo();
    EXPECT_EQ(device->GetResult(true, &count), platform::error::kOperationAborted);

    ASSERT_EQ(device->StartRead(buffer, sizeof buffer).status, platform::IoStart::kPending);
    close(master_);
    master_ = -1;
    EXPECT_EQ(device->Wait(cancel.get(), 2000).status, platform::IoWait::kIoDone);
    EXPECT_EQ(device->GetResult(false, &count), platform::error::kBrokenPipe);
}

}  // namespace

#endif  // _WIN32
