#include "download/frame.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "download/serial_port.h"
#include "fakes/serial_fake.h"
#include "fakes/sync_fake.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An open port on a fake device, with the log captured.
class FrameTest : public testing::Test {
  protected:
    FrameTest() : use_(WithFakes()) {
        log_.emplace();
        EXPECT_TRUE(port_.Open(L"COM7\\QDLService"));
        start_ = log_->Lines().size();
    }

    platform::Platform WithFakes() {
        platform::Platform p = platform::Get();
        p.sync = &sync_;
        p.serial = &serial_;
        return p;
    }

    // The log lines written since the port was opened.
    std::vector<std::wstring> NewLines() {
        std::vector<std::wstring> all = log_->Lines();
        return std::vector<std::wstring>(all.begin() + static_cast<long>(start_), all.end());
    }

    platform::fake::FakeSync sync_;
    platform::fake::FakeSerialPorts serial_;
    platform::ScopedPlatform use_;
    std::optional<LogCapture> log_;
    cSerialPort port_;
    size_t start_ = 0;
};

Bytes Sequence(size_t count) {
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>(i);
    }
    return bytes;
}

TEST_F(FrameTest, TraceLines) {
    const Bytes finalMessage = {0x7E, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x74, 0x7E};
    const Bytes initialMessage = {0x7E, 0x01, 0x51, 0x43, 0x4F, 0x4D, 0x20, 0x68, 0x69, 0x67,
                                  0x68, 0x20, 0x73, 0x70, 0x65, 0x65, 0x64, 0x20, 0x70, 0x72,
                                  0x6F, 0x74, 0x6F, 0x63, 0x6F, 0x6C, 0x20, 0x68, 0x73, 0x74,
                                  0x00, 0x00, 0x00, 0x00, 0x05, 0x05, 0x30, 0x07, 0x48, 0x7E};
    std::vector<std::wstring> full(16);
    for (int line = 0; line < 16; ++line) {
        static const wchar_t kHex[] = L"0123456789ABCDEF";
        std::wstring text = line == 0 ? L"Rcvd: " : L"      ";
        for (int i = 0; i < 16; ++i) {
            text += kHex[line];
            text += kHex[i];
            if (i < 15) {
                text += L' ';
            }
        }
        full[line] = text;
    }
    struct Case {
        const wchar_t* prefix;
        Bytes bytes;
        std::vector<std::wstring> lines;
    };
    const Case cases[] = {
        {L"Send: ", finalMessage, {L"Send: 7E 29 00 00 00 00 00 00 00 00 E9 74 7E "}},
        {L"Rcvd: ", Sequence(16), {full[0]}},
        {L"Rcvd: ", Sequence(17), {full[0], L"      10 "}},
        {L"Send: ",
         initialMessage,
         {L"Send: 7E 01 51 43 4F 4D 20 68 69 67 68 20 73 70 65 65",
          L"      64 20 70 72 6F 74 6F 63 6F 6C 20 68 73 74 00 00",
          L"      00 00 05 05 30 07 48 7E "}},
        {L"Rcvd: ", Sequence(300), full},  // the first 256 bytes only
        {L"Rcvd: ", Sequence(256), full},
        {L"Rcvd: ", Bytes{0xAB}, {L"Rcvd: AB "}},
        {L"Rcvd: ", Bytes{}, {}},
    };
    for (const Case& c : cases) {
        const size_t before = log_->Lines().size();
        TraceFrame(c.prefix, c.bytes.data(), c.bytes.size());
        std::vector<std::wstring> all = log_->Lines();
        EXPECT_EQ(std::vector<std::wstring>(all.begin() + static_cast<long>(before), all.end()),
                  c.lines)
            << c.bytes.size() << " bytes";
    }
}

TEST_F(FrameTest, FramedAndUnframedBytesOnTheLine) {
    struct Case {
        const char* name;
        bool framed;
        Bytes payload;
        Bytes line;
    };
    const Case cases[] = {
        {"final message",
         true,
         {0x29, 0, 0, 0, 0, 0, 0, 0, 0},
         {0x7E, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x74, 0x7E}},
        {"empty framed", true, {}, {0x7E, 0x00, 0x00, 0x7E}},
        {"flag and escape in the payload",
         true,
         {0x7E, 0x7D, 0x5E, 0x7D, 0x7E},
         {0x7E, 0x7E, 0x7D, 0x5E, 0x7D, 0x7E, 0x4B, 0x23, 0x7E}},
        {"FCS 7E 7D", true, {0x83, 0xF2}, {0x7E, 0x83, 0xF2, 0x7E, 0x7D, 0x7E}},
        {"FCS 7D 7E", true, {0x28, 0x18}, {0x7E, 0x28, 0x18, 0x7D, 0x7E, 0x7E}},
        {"unframed",
         false,
         {0x29, 0, 0, 0, 0, 0, 0, 0, 0},
         {0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x74}},
        {"unframed FCS 7E 7D", false, {0x83, 0xF2}, {0x83, 0xF2, 0x7E, 0x7D}},
        {"empty unframed", false, {}, {0x00, 0x00}},
    };
    for (const Case& c : cases) {
        const size_t writes = serial_.state().writes().size();
        const bool sent = c.framed ? SendFramedMessage(port_, c.payload.data(), c.payload.size())
                                   : SendUnframedMessage(port_, c.payload.data(), c.payload.size());
        ASSERT_TRUE(sent) << c.name;
        const std::vector<Bytes> all = serial_.state().writes();
        ASSERT_EQ(all.size(), writes + 1) << c.name << ": one write a message";
        EXPECT_EQ(all.back(), c.line) << c.name;
    }
}

TEST_F(FrameTest, EveryFrameIsTracedWithSendPrefix) {
    const Bytes payload = {0x83, 0xF2};
    ASSERT_TRUE(SendFramedMessage(port_, payload.data(), payload.size()));
    ASSERT_TRUE(SendUnframedMessage(port_, payload.data(), payload.size()));
    EXPECT_EQ(NewLines(),
              (std::vector<std::wstring>{L"Send: 7E 83 F2 7E 7D 7E ", L"Send: 83 F2 7E 7D "}));
}

TEST_F(FrameTest, SendResultIsThePortsResult) {
    platform::fake::FakeIo shortWrite;
    shortWrite.limit = 3;
    serial_.state().ScriptWrite(shortWrite);
    const Bytes payload = {1, 2, 3};
    EXPECT_FALSE(SendFramedMessage(port_, payload.data(), payload.size()));
    EXPECT_EQ(NewLines(), std::vector<std::wstring>{L"Send: 7E 01 02 03 3B 9D 7E "})
        << "traced before it is sent, and no line of its own";
}

TEST_F(FrameTest, ClosedPortSendsAndTracesNothing) {
    port_.Close();
    const size_t calls = serial_.state().calls().size();
    const Bytes payload = {1, 2, 3};
    EXPECT_FALSE(SendFramedMessage(port_, payload.data(), payload.size()));
    EXPECT_FALSE(SendUnframedMessage(port_, payload.data(), payload.size()));
    EXPECT_EQ(serial_.state().calls().size(), calls);
    EXPECT_TRUE(NewLines().empty());
}

}  // namespace
