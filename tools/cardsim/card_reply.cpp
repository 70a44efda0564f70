// The card's replies, as a card sends them or with an injected fault.
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <thread>

#include "card.h"

const Fault* cCard::FindFault(FaultPoint point) const {
    for (const Fault& f : m_options.faults) {
        bool image = point == FaultPoint::kInitial || f.image == static_cast<int>(m_image);
        if (f.point == point && image && (f.load == 0 || f.load == m_load)) {
            return &f;
        }
    }
    return nullptr;
}

void cCard::Reply(FaultPoint point, const char* name, Bytes payload) {
    const Fault* fault = FindFault(point);
    Bytes frame = qdl::Framed(payload);
    if (fault != nullptr) {
        m_faultThisLoad = true;
        m_log.Line("FAULT: %s", Describe(*fault).c_str());
        switch (fault->kind) {
            case FaultKind::kFirstByte:
                payload[0] = static_cast<uint8_t>(fault->arg);
                frame = qdl::Framed(payload);
                break;
            case FaultKind::kNoFlag:
                frame[0] = 0x00;
                break;
            case FaultKind::kBadFcs:
                frame[frame.size() - 3] ^= 0xFF;
                break;
            case FaultKind::kStuffed:
                // An unexamined byte becomes 0x7E when nothing else would be escaped, so the
                // stuffed frame always differs from the plain one.
                if (qdl::Stuffed(frame) == frame) {
                    payload[1] = qdl::kFlag;
                    frame = qdl::Framed(payload);
                }
                frame = qdl::Stuffed(frame);
                break;
            case FaultKind::kExtra:
                frame.insert(frame.end(), static_cast<size_t>(fault->arg), 0x55);
                break;
            case FaultKind::kNoReply:
                m_log.Line("not sent: %s", name);
                return;
            case FaultKind::kLate:
                Pause(fault->arg);
                break;
            case FaultKind::kSplit: {
                size_t half = frame.size() / 2;
                if (WriteLine(frame.data(), half)) {
                    m_log.Line("sent %s, part 1 (%zu bytes): %s", name, half,
                               qdl::Hex(frame.data(), half).c_str());
                }
                Pause(fault->arg);
                if (WriteLine(frame.data() + half, frame.size() - half)) {
                    m_log.Line("sent %s, part 2 (%zu bytes): %s", name, frame.size() - half,
                               qdl::Hex(frame.data() + half, frame.size() - half).c_str());
                }
                m_lastActivity = Clock::now();
                return;
            }
            case FaultKind::kStall:
            case FaultKind::kVanish:
                break;
        }
    }
    if (WriteLine(frame.data(), frame.size())) {
        m_log.Line("sent %s (%zu bytes): %s", name, frame.size(), qdl::Hex(frame).c_str());
    }
    m_lastActivity = Clock::now();
}

// One write() call: the host takes a reply from a single read.
bool cCard::WriteLine(const uint8_t* bytes, size_t count) {
    ssize_t n = write(m_line, bytes, count);
    if (n == static_cast<ssize_t>(count)) {
        return true;
    }
    if (n < 0) {
        m_log.Line("ERROR: writing %zu bytes to the pty failed: %s", count, std::strerror(errno));
    } else {
        m_log.Line("ERROR: the pty took only %zd of %zu bytes in one write", n, count);
    }
    return false;
}

void cCard::Pause(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    m_lastActivity = Clock::now();
}
