#include "download/crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct CrcCase {
    const char* name;
    std::vector<uint8_t> bytes;
    uint16_t fcs;
};

std::vector<uint8_t> Ascii(const char* text) {
    return std::vector<uint8_t>(text, text + std::strlen(text));
}

TEST(Crc16, KnownVectors) {
    const CrcCase cases[] = {
        {"no bytes", {}, 0x0000},
        {"the nine digits", Ascii("123456789"), 0x906E},
        {"final message", {0x29, 0, 0, 0, 0, 0, 0, 0, 0}, 0x74E9},
        {"Gobi 2000 initial message",
         {0x01, 0x51, 0x43, 0x4F, 0x4D, 0x20, 0x68, 0x69, 0x67, 0x68, 0x20, 0x73,
          0x70, 0x65, 0x65, 0x64, 0x20, 0x70, 0x72, 0x6F, 0x74, 0x6F, 0x63, 0x6F,
          0x6C, 0x20, 0x68, 0x73, 0x74, 0x00, 0x00, 0x00, 0x00, 0x05, 0x05, 0x30},
         0x4807},
        {"FCS bytes that are flag and escape", {0x83, 0xF2}, 0x7D7E},
        {"FCS bytes that are escape and flag", {0x28, 0x18}, 0x7E7D},
    };
    for (const CrcCase& c : cases) {
        EXPECT_EQ(Crc16(c.bytes.data(), c.bytes.size()), c.fcs) << c.name;
    }
}

// Appending the FCS low byte first gives the HDLC good-frame residue 0xF0B8 (complemented:
// the FCS over payload and FCS is 0x0F47), whatever the payload.
TEST(Crc16, PayloadWithItsFcsHasTheFixedResidue) {
    std::vector<uint8_t> bytes;
    for (int length = 0; length < 300; ++length) {
        const uint16_t fcs = Crc16(bytes.data(), bytes.size());
        std::vector<uint8_t> framed = bytes;
        framed.push_back(static_cast<uint8_t>(fcs & 0xFF));
        framed.push_back(static_cast<uint8_t>(fcs >> 8));
        ASSERT_EQ(Crc16(framed.data(), framed.size()), 0x0F47) << length;
        bytes.push_back(static_cast<uint8_t>(length * 37 + 11));
    }
}

}  // namespace
