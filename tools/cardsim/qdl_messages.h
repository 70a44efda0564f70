// The messages of the download protocol as they appear on the line, for both ends: the host's
// messages (which the simulated card checks and the raw writer sends) and the card's replies.
// Frames carry no byte stuffing: a framed message is 0x7E, payload, FCS low, FCS high, 0x7E; an
// unframed message is payload, FCS low, FCS high.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

namespace qdl {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kEscape = 0x7D;

// Sizes on the line.
constexpr size_t kInitialSize = 40;
constexpr size_t kInitialAnswerSize = 53;
constexpr size_t kPre1Size = 17;
constexpr size_t kPre1AnswerSize = 12;
constexpr size_t kPre2Size = 13;
constexpr size_t kPostSize = 13;
constexpr size_t kFinalSize = 13;

// Image data goes in raw blocks of this size.
constexpr size_t kBlockSize = 262144;

struct ImageKind {
    const char* name;
    uint8_t type;
    uint32_t trailer;  // bytes at the end of the file that are never sent
};
inline constexpr ImageKind kImages[3] = {{"AMSS", 5, 8}, {"APPS", 6, 0}, {"UQCN", 13, 0}};
// AMSS and APPS for a Gobi 1000 card, and UQCN too for a Gobi 2000 card.
inline size_t ImageCount(int generation) {
    return generation == 1 ? 2 : 3;
}
// Index into kImages for a name (any case), or -1.
int ImageIndex(const std::string& name);

Bytes Framed(const Bytes& payload);
Bytes Unframed(const Bytes& payload);
// The frame with every 0x7E/0x7D between its flags escaped as 7D 5E / 7D 5D.
Bytes Stuffed(const Bytes& frame);
// Undoes Stuffed; false when an escape is not followed by 5E or 5D.
bool Unstuff(const Bytes& frame, Bytes& out);

// Payloads of the host's messages.
Bytes InitialPayload(int generation);
Bytes Pre1Payload(uint8_t type, uint32_t size);
Bytes Pre2Payload(uint32_t size);
Bytes FinalPayload();

// Payloads of the card's replies.
Bytes InitialAnswerPayload(int32_t preference);
Bytes Pre1AnswerPayload();
Bytes PostPayload();

uint32_t ReadLe32(const uint8_t* bytes);
// Upper-case hexadecimal bytes separated by spaces; past limit bytes, " ... (N bytes)".
std::string Hex(const uint8_t* bytes, size_t count, size_t limit = 64);
inline std::string Hex(const Bytes& bytes, size_t limit = 64) {
    return Hex(bytes.data(), bytes.size(), limit);
}

// A named byte range of a message, for saying where a received message differs.
struct Field {
    size_t offset;
    size_t length;
    const char* name;
};

// Compares a received message with the one expected. Returns an empty string when they are
// equal, else the first difference in words: the length, a missing flag (framed only), an FCS
// that does not match the payload, or the first field that differs.
std::string Difference(const Bytes& got, const Bytes& expected, bool framed,
                       const std::vector<Field>& fields);

extern const std::vector<Field> kInitialFields;
extern const std::vector<Field> kPre1Fields;
extern const std::vector<Field> kPre2Fields;
extern const std::vector<Field> kFinalFields;

}  // namespace qdl
