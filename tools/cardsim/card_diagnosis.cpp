// What the card expects next, and what it says when the host sent something else.
#include <algorithm>
#include <cstdio>

#include "card.h"

namespace {

// Names the message the bytes are, when they are one of the host's, else "".
const char* Identify(const Bytes& b) {
    if (b.size() == qdl::kInitialSize && b[1] == 0x01) {
        return "the initial message";
    }
    if (b.size() == qdl::kPre1Size && b[1] == 0x25) {
        return "a PreFirmware message 1";
    }
    if (b.size() == qdl::kPre2Size && b[0] == 0x27) {
        return "a PreFirmware message 2";
    }
    if (b.size() == qdl::kFinalSize && b[1] == 0x29) {
        return "the final message";
    }
    return "";
}

}  // namespace

size_t cCard::Needed() const {
    switch (m_stage) {
        case Stage::kInitial:
            return qdl::kInitialSize;
        case Stage::kPre1:
            return qdl::kPre1Size;
        case Stage::kPre2:
            return qdl::kPre2Size;
        case Stage::kFinal:
            return qdl::kFinalSize;
        case Stage::kData:
            break;
    }
    return 0;
}

std::string cCard::Expected() const {
    switch (m_stage) {
        case Stage::kInitial:
            return "the initial message";
        case Stage::kPre1:
            return std::string("PreFirmware message 1 of ") + ImageName();
        case Stage::kPre2:
            return std::string("PreFirmware message 2 of ") + ImageName();
        case Stage::kData:
            return std::string("the data of ") + ImageName();
        case Stage::kFinal:
            return "the final message";
    }
    return "";
}

// The message the card expects, made to agree with got where the host chooses a value (the
// image size in PreFirmware message 1).
Bytes cCard::ExpectedBytes(const Bytes& got) const {
    switch (m_stage) {
        case Stage::kInitial:
            return qdl::Framed(qdl::InitialPayload(m_options.generation));
        case Stage::kPre1: {
            uint32_t size = got.size() >= 7 ? qdl::ReadLe32(got.data() + 3) : 0;
            return qdl::Framed(qdl::Pre1Payload(qdl::kImages[m_image].type, size));
        }
        case Stage::kPre2:
            return qdl::Unframed(qdl::Pre2Payload(m_size));
        case Stage::kFinal:
            return qdl::Framed(qdl::FinalPayload());
        case Stage::kData:
            break;
    }
    return {};
}

// Says what was wrong with the bytes gathered for a message, once the line has gone quiet.
void cCard::Diagnose() {
    Bytes got;
    got.swap(m_pending);
    size_t total = m_pendingTotal;
    m_pendingTotal = 0;
    m_judging = false;
    Bytes expected = ExpectedBytes(got);
    std::string what =
        "expected " + Expected() + " (" + std::to_string(expected.size()) + " bytes), ";
    std::string reason;
    Bytes unstuffed;
    if (total == expected.size()) {
        if (m_stage == Stage::kPre1 && got[0] == qdl::kFlag && got[1] == 0x25 &&
            got[2] != qdl::kImages[m_image].type) {
            const char* other = "an unknown image";
            for (const qdl::ImageKind& kind : qdl::kImages) {
                if (kind.type == got[2]) {
                    other = kind.name;
                }
            }
            char text[160];
            std::snprintf(text, sizeof text,
                          "image type is %u (%s), expected %u: the images go AMSS, APPS%s", got[2],
                          other, qdl::kImages[m_image].type,
                          m_options.generation == 2 ? ", UQCN" : "");
            reason = text;
        } else {
            std::vector<qdl::Field> fields = m_stage == Stage::kInitial ? qdl::kInitialFields
                                             : m_stage == Stage::kPre1  ? qdl::kPre1Fields
                                             : m_stage == Stage::kPre2  ? qdl::kPre2Fields
                                                                        : qdl::kFinalFields;
            reason = qdl::Difference(got, expected, m_stage != Stage::kPre2, fields);
            if (reason.empty() && m_stage == Stage::kPre1) {
                reason = "image size is 0";
            }
        }
        reason = Expected() + ": " + reason + ": " + qdl::Hex(got);
    } else if (total == got.size() &&
               std::find(got.begin(), got.end(), qdl::kEscape) != got.end() &&
               qdl::Unstuff(got, unstuffed) && unstuffed == ExpectedBytes(unstuffed)) {
        reason = what + "got it byte-stuffed as " + std::to_string(total) +
                 " bytes (0x7E/0x7D escaped with 0x7D); the protocol sends every byte as it is: " +
                 qdl::Hex(got);
    } else if (total == got.size() && *Identify(got) != '\0') {
        reason = what + "got " + Identify(got) + " (" + std::to_string(total) +
                 " bytes): " + qdl::Hex(got);
    } else {
        reason = what + "got " + std::to_string(total) + " bytes: " + qdl::Hex(got);
    }
    FailLoad(reason, true);
}
