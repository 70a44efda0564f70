// The serial port on the build's own platform against a card played by tests/wine/serial_peer.py
// on the other side of a pty. The peer names the port in DOVRAND_SERIAL_PEER_PORT (for example
// COM120, reached as COM120\QDLService); without it the test is skipped.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "download/frame.h"
#include "download/serial_port.h"
#include "support/byte_pattern.h"
#include "support/log_capture.h"

namespace {

using Lines = std::vector<std::wstring>;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

TEST(SerialPtyPeer, ExchangeWithTheCard) {
    const char* port = std::getenv("DOVRAND_SERIAL_PEER_PORT");
    if (port == nullptr || *port == '\0') {
        GTEST_SKIP() << "run by tests/wine/serial_peer.py";
    }
    const std::wstring name =
        std::wstring(port, port + std::char_traits<char>::length(port)) + L"\\QDLService";
    LogCapture log;
    size_t seen = 0;
    auto newLines = [&] {
        Lines all = log.Lines();
        Lines added(all.begin() + static_cast<long>(seen), all.end());
        seen = all.size();
        return added;
    };

    cSerialPort serial;
    SetCurrentPort(&serial);
    ASSERT_TRUE(serial.Open(name.c_str()));
    EXPECT_EQ(newLines(), Lines{L"Port " + name + L" is opened."});

    // 1. A framed message out, with a flag and an escape byte left as they are; a reply in.
    const Bytes hello = {0x01, 0x68, 0x65, 0x6C, 0x6C, 0x6F, 0x7E, 0x7D};
    ASSERT_TRUE(SendFramedMessage(serial, hello.data(), hello.size()));
    uint8_t reply[2] = {};
    ASSERT_TRUE(serial.ReceiveWithCRC(2, reply));
    EXPECT_EQ(reply[0], 0x02);
    EXPECT_EQ(reply[1], 0xAA);
    Lines lines = newLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], L"Rcvd: 7E 02 AA A7 36 7E ");

    // 2. A raw block of 256 KiB, and its answer.
    const Bytes block = Pattern(256 * 1024);
    auto start = Clock::now();
    ASSERT_TRUE(serial.Send(block.data(), static_cast<uint32_t>(block.size())));
    std::printf("256 KiB block sent in %.1f ms\n", Ms(Clock::now() - start));
    ASSERT_TRUE(serial.ReceiveWithCRC(1, reply));
    EXPECT_EQ(reply[0], 0x03);
    newLines();

    // 3. No answer: the read times out.
    EXPECT_FALSE(serial.ReceiveWithCRC(1, reply));
    EXPECT_EQ(newLines(), Lines{L"SerialPort.Receive: Receiving timed out."});

    // 4. A cancel from a second thread ends the wait.
    Clock::time_point cancelledAt;
    std::thread control([&cancelledAt] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancelledAt = Clock::now();
        CancelCurrentPort();
    });
    uint8_t buffer[16];
    uint32_t count = sizeof buffer;
    EXPECT_FALSE(serial.Receive(buffer, count));
    const Clock::time_point returnedAt = Clock::now();
    control.join();
    std::printf("cancel to return: %.3f ms\n", Ms(returnedAt - cancelledAt));
    EXPECT_EQ(newLines(), Lines{L"SerialPort.Receive: Operation cancelled."});

    // 5. The peer stops reading after this frame: the next block's write times out.
    const Bytes last = {0x04};
    ASSERT_TRUE(SendFramedMessage(serial, last.data(), last.size()));
    newLines();
    start = Clock::now();
    EXPECT_FALSE(serial.Send(block.data(), static_cast<uint32_t>(block.size())));
    std::printf("write to a peer that does not read ended after %.1f ms\n",
                Ms(Clock::now() - start));
    EXPECT_EQ(newLines(), Lines{L"SerialPort.Send: Sending timed out."});

    SetCurrentPort(nullptr);
    serial.Close();
}

}  // namespace
