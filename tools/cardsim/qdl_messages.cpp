#include "qdl_messages.h"

#include <strings.h>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "download/crc.h"

namespace qdl {

namespace {

constexpr char kProtocolName[] = "QCOM high speed protocol hst";

void PutLe32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

void PutFcs(Bytes& out, const uint8_t* payload, size_t n) {
    uint16_t fcs = Crc16(payload, n);
    out.push_back(static_cast<uint8_t>(fcs & 0xFF));
    out.push_back(static_cast<uint8_t>(fcs >> 8));
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

}  // namespace

int ImageIndex(const std::string& name) {
    for (int i = 0; i < 3; ++i) {
        if (strcasecmp(name.c_str(), kImages[i].name) == 0) {
            return i;
        }
    }
    return -1;
}

Bytes Framed(const Bytes& payload) {
    Bytes frame;
    frame.reserve(payload.size() + 4);
    frame.push_back(kFlag);
    frame.insert(frame.end(), payload.begin(), payload.end());
    PutFcs(frame, payload.data(), payload.size());
    frame.push_back(kFlag);
    return frame;
}

Bytes Unframed(const Bytes& payload) {
    Bytes message(payload);
    PutFcs(message, payload.data(), payload.size());
    return message;
}

Bytes Stuffed(const Bytes& frame) {
    Bytes out;
    for (size_t i = 0; i < frame.size(); ++i) {
        uint8_t b = frame[i];
        bool inside = i > 0 && i + 1 < frame.size();
        if (inside && (b == kFlag || b == kEscape)) {
            out.push_back(kEscape);
            out.push_back(static_cast<uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    return out;
}

bool Unstuff(const Bytes& frame, Bytes& out) {
    out.clear();
    for (size_t i = 0; i < frame.size(); ++i) {
        if (frame[i] != kEscape) {
            out.push_back(frame[i]);
            continue;
        }
        if (i + 1 >= frame.size() || (frame[i + 1] != 0x5E && frame[i + 1] != 0x5D)) {
            return false;
        }
        out.push_back(static_cast<uint8_t>(frame[++i] ^ 0x20));
    }
    return true;
}

Bytes InitialPayload(int generation) {
    Bytes p(36, 0x00);
    p[0] = 0x01;
    std::memcpy(&p[1], kProtocolName, sizeof kProtocolName - 1);
    p[33] = p[34] = generation == 1 ? 0x04 : 0x05;
    p[35] = 0x30;
    return p;
}

Bytes Pre1Payload(uint8_t type, uint32_t size) {
    Bytes p(13, 0x00);
    p[0] = 0x25;
    p[1] = type;
    PutLe32(&p[2], size);
    p[6] = 0x01;
    p[10] = 0x04;
    return p;
}

Bytes Pre2Payload(uint32_t size) {
    Bytes p(11, 0x00);
    p[0] = 0x27;
    PutLe32(&p[7], size);
    return p;
}

Bytes FinalPayload() {
    return Bytes{0x29, 0, 0, 0, 0, 0, 0, 0, 0};
}

Bytes InitialAnswerPayload(int32_t preference) {
    Bytes p(49, 0x00);
    p[0] = 0x02;
    PutLe32(&p[25], static_cast<uint32_t>(preference));
    return p;
}

Bytes Pre1AnswerPayload() {
    Bytes p(8, 0x00);
    p[0] = 0x26;
    return p;
}

Bytes PostPayload() {
    Bytes p(9, 0x00);
    p[0] = 0x28;
    return p;
}

uint32_t ReadLe32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | (uint32_t{bytes[1]} << 8) | (uint32_t{bytes[2]} << 16) |
           (uint32_t{bytes[3]} << 24);
}

std::string Hex(const uint8_t* bytes, size_t count, size_t limit) {
    std::string text;
    size_t shown = count < limit ? count : limit;
    for (size_t i = 0; i < shown; ++i) {
        char digits[4];
        std::snprintf(digits, sizeof digits, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += digits;
    }
    if (shown < count) {
        text += Format(" ... (%zu bytes)", count);
    }
    return text;
}

std::string Difference(const Bytes& got, const Bytes& expected, bool framed,
                       const std::vector<Field>& fields) {
    if (got.size() != expected.size()) {
        return Format("%zu bytes, expected %zu", got.size(), expected.size());
    }
    size_t n = got.size();
    if (framed) {
        if (got[0] != kFlag) {
            return Format("starts with %02X instead of the flag 7E", got[0]);
        }
        if (got[n - 1] != kFlag) {
            return Format("ends with %02X instead of the flag 7E", got[n - 1]);
        }
    }
    size_t payloadStart = framed ? 1 : 0;
    size_t payloadSize = n - payloadStart - (framed ? 3 : 2);
    uint16_t fcs = Crc16(got.data() + payloadStart, payloadSize);
    const uint8_t* sent = got.data() + payloadStart + payloadSize;
    if (sent[0] != (fcs & 0xFF) || sent[1] != (fcs >> 8)) {
        return Format("FCS is %02X %02X, but the payload's FCS is %02X %02X", sent[0], sent[1],
                      fcs & 0xFF, fcs >> 8);
    }
    for (const Field& f : fields) {
        if (f.offset + f.length > n) {
            continue;
        }
        if (std::memcmp(got.data() + f.offset, expected.data() + f.offset, f.length) != 0) {
            return Format("%s is %s, expected %s", f.name,
                          Hex(got.data() + f.offset, f.length).c_str(),
                          Hex(expected.data() + f.offset, f.length).c_str());
        }
    }
    if (got != expected) {
        return "differs from the expected bytes";
    }
    return "";
}

// Offsets are those on the line, flags included.
const std::vector<Field> kInitialFields = {
    {1, 1, "command"},  {2, 28, "protocol name"}, {30, 4, "bytes after the name"},
    {34, 2, "version"}, {36, 1, "last byte"},
};
const std::vector<Field> kPre1Fields = {
    {1, 1, "command"},     {2, 1, "image type"}, {3, 4, "image size"},
    {7, 2, "bytes 01 00"}, {9, 4, "block size"}, {13, 1, "last byte"},
};
const std::vector<Field> kPre2Fields = {
    {0, 1, "command"},
    {1, 6, "zero bytes"},
    {7, 4, "image size"},
};
const std::vector<Field> kFinalFields = {
    {1, 1, "command"},
    {2, 8, "zero bytes"},
};

}  // namespace qdl
