#include "card.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {

// A message that stops short is judged once the line has been quiet this long: the host writes
// each message in one piece and then waits for the answer.
constexpr int kFrameQuietMs = 200;
// Bytes kept for the report on a message that went wrong; more are only counted.
constexpr size_t kMaxJudged = 65536;
constexpr size_t kReadSize = 256 * 1024;

std::string Throughput(uint64_t bytes, double seconds) {
    if (bytes == 0 || seconds <= 0) {
        return "n/a";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / seconds / 1e6);
    return text;
}

}  // namespace

cCard::cCard(const Options& options, int line, cTranscript& transcript)
    : m_options(options), m_line(line), m_log(transcript), m_buffer(kReadSize) {}

cCard::~cCard() {
    if (m_outFd >= 0) {
        close(m_outFd);
    }
}

int cCard::Run() {
    m_lastActivity = Clock::now();
    const auto idle = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(m_options.idleExitSeconds));
    while (!m_done) {
        if (g_stopRequested != 0) {
            Finish("stopped by a signal");
            break;
        }
        Clock::time_point now = Clock::now();
        Clock::time_point deadline = m_lastActivity + idle;
        if (m_stage == Stage::kData) {
            deadline =
                std::min(deadline, m_lastActivity + std::chrono::milliseconds(m_options.resyncMs));
        } else if (m_pendingTotal > 0) {
            deadline =
                std::min(deadline, m_lastActivity + std::chrono::milliseconds(kFrameQuietMs));
        }
        auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd p{m_line, POLLIN, 0};
        int r = poll(&p, 1, static_cast<int>(std::max<long long>(0, wait)));
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            m_log.Line("ERROR: poll on the pty failed: %s", std::strerror(errno));
            Finish("the pty failed");
            break;
        }
        if (r == 0) {
            OnQuiet(Clock::now());
            continue;
        }
        if ((p.revents & POLLIN) != 0) {
            if (!ReadInput()) {
                Finish("the pty failed");
            }
        } else if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            m_log.Line("ERROR: the pty reports an error (poll events %#x)",
                       static_cast<unsigned>(p.revents));
            Finish("the pty failed");
        }
    }
    return m_completed >= std::max(1, m_options.loads) ? 0 : 1;
}

bool cCard::ReadInput() {
    size_t want = m_buffer.size();
    if (m_stage == Stage::kData) {
        want = std::min<size_t>(want, m_size - m_received);
        const Fault* fault = DataFault();
        if (fault != nullptr && !m_stallDone && m_received < DataFaultOffset(*fault)) {
            want = std::min<size_t>(want, DataFaultOffset(*fault) - m_received);
        }
    } else if (!m_judging) {
        // Only the rest of the expected message: what follows belongs to the next step.
        want = Needed() - m_pending.size();
    }
    ssize_t n = read(m_line, m_buffer.data(), want);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) {
            return true;
        }
        m_log.Line("ERROR: reading the pty failed: %s", std::strerror(errno));
        return false;
    }
    m_lastActivity = Clock::now();
    if (n == 0) {
        return true;
    }
    if (m_stage == Stage::kData) {
        OnData(m_buffer.data(), static_cast<size_t>(n));
    } else {
        OnFrameBytes(m_buffer.data(), static_cast<size_t>(n));
    }
    return true;
}

void cCard::OnFrameBytes(const uint8_t* bytes, size_t count) {
    size_t keep = std::min(count, kMaxJudged - std::min(kMaxJudged, m_pending.size()));
    m_pending.insert(m_pending.end(), bytes, bytes + keep);
    m_pendingTotal += count;
    if (!m_judging) {
        if (m_pending.size() < Needed()) {
            return;
        }
        if (TryAccept()) {
            return;
        }
        m_judging = true;
        return;
    }
    // A host that gave up starts over with a new initial message.
    if (m_stage != Stage::kInitial && m_pendingTotal == qdl::kInitialSize &&
        m_pending == qdl::Framed(qdl::InitialPayload(m_options.generation))) {
        Bytes initial;
        initial.swap(m_pending);
        FailLoad("the host started over with a new initial message while the card waited for " +
                     Expected(),
                 !m_faultThisLoad);
        m_pending.swap(initial);
        m_pendingTotal = m_pending.size();
        TryAccept();
    }
}

bool cCard::TryAccept() {
    Bytes got(m_pending);
    if (got != ExpectedBytes(got)) {
        return false;
    }
    m_pending.clear();
    m_pendingTotal = 0;
    m_judging = false;
    switch (m_stage) {
        case Stage::kInitial:
            m_log.Line("rcvd initial message (%zu bytes): %s", got.size(), qdl::Hex(got).c_str());
            StartLoad();
            break;
        case Stage::kPre1: {
            uint32_t size = qdl::ReadLe32(got.data() + 3);
            if (size == 0) {
                m_pending.swap(got);
                m_pendingTotal = m_pending.size();
                return false;
            }
            m_log.Line("rcvd PreFirmware message 1 of %s (%zu bytes), image size %u: %s",
                       ImageName(), got.size(), size, qdl::Hex(got).c_str());
            AcceptPre1(size);
            break;
        }
        case Stage::kPre2:
            m_log.Line("rcvd PreFirmware message 2 of %s (%zu bytes): %s", ImageName(), got.size(),
                       qdl::Hex(got).c_str());
            AcceptPre2();
            break;
        case Stage::kFinal:
            m_log.Line("rcvd final message (%zu bytes): %s", got.size(), qdl::Hex(got).c_str());
            CompleteLoad();
            break;
        case Stage::kData:
            break;
    }
    return true;
}

void cCard::OnData(const uint8_t* bytes, size_t count) {
    if (m_received == 0) {
        m_firstByte = m_lastActivity;
        m_firstChunk = count;
    }
    if (m_outFd >= 0) {
        size_t done = 0;
        while (done < count) {
            ssize_t w = write(m_outFd, bytes + done, count - done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                m_log.Line("ERROR: cannot write %s: %s; the image is checked without it",
                           m_outPath.c_str(), std::strerror(errno));
                close(m_outFd);
                m_outFd = -1;
                m_outPath.clear();
                break;
            }
            done += static_cast<size_t>(w);
        }
    }
    if (m_outFd < 0) {
        m_sha.Update(bytes, count);
    }
    m_received += static_cast<uint32_t>(count);
    ++m_reads;
    m_lastByte = m_lastActivity;
    const Fault* fault = DataFault();
    if (fault != nullptr && !m_stallDone && m_received >= DataFaultOffset(*fault) &&
        m_received < m_size) {
        m_stallDone = true;
        m_faultThisLoad = true;
        if (fault->kind == FaultKind::kVanish) {
            m_log.Line("FAULT: %s: the card vanishes after %u of %u bytes", ImageName(), m_received,
                       m_size);
            if (m_vanish) {
                m_vanish();
            }
            Finish("the card vanished");
            return;
        }
        m_log.Line("FAULT: %s: stops reading after %u of %u bytes for %ld ms", ImageName(),
                   m_received, m_size, fault->arg);
        Pause(fault->arg);
        m_log.Line("%s: reading again", ImageName());
    }
    if (m_received == m_size) {
        FinishImage();
    }
}

bool cCard::OnQuiet(Clock::time_point now) {
    if (m_stage == Stage::kData &&
        now >= m_lastActivity + std::chrono::milliseconds(m_options.resyncMs)) {
        char text[200];
        std::snprintf(text, sizeof text, "%s stopped after %u of %u bytes: nothing came for %d ms",
                      ImageName(), m_received, m_size, m_options.resyncMs);
        FailLoad(text, !m_faultThisLoad);
        return false;
    }
    if (m_stage != Stage::kData && m_pendingTotal > 0 &&
        now >= m_lastActivity + std::chrono::milliseconds(kFrameQuietMs)) {
        Diagnose();
        return false;
    }
    std::chrono::duration<double> quiet = now - m_lastActivity;
    if (quiet.count() >= m_options.idleExitSeconds) {
        Finish("idle");
        return true;
    }
    return false;
}

const Fault* cCard::DataFault() const {
    const Fault* stall = FindFault(FaultPoint::kStall);
    return stall != nullptr ? stall : FindFault(FaultPoint::kVanish);
}

uint32_t cCard::DataFaultOffset(const Fault& fault) const {
    return static_cast<uint32_t>(uint64_t{m_size} * static_cast<uint64_t>(fault.percent) / 100);
}

void cCard::StartLoad() {
    ++m_load;
    m_loadActive = true;
    m_faultThisLoad = false;
    m_loadImages = 0;
    m_loadBytes = 0;
    m_loadTimedBytes = 0;
    m_loadSeconds = 0;
    m_log.Line("load %d started: Gobi %d000 card", m_load, m_options.generation);
    Reply(FaultPoint::kInitial, "answer to the initial message",
          qdl::InitialAnswerPayload(m_options.preference));
    m_image = 0;
    m_stage = Stage::kPre1;
}

void cCard::AcceptPre1(uint32_t size) {
    m_size = size;
    Reply(FaultPoint::kPre1, "answer to PreFirmware message 1", qdl::Pre1AnswerPayload());
    m_stage = Stage::kPre2;
}

void cCard::AcceptPre2() {
    m_received = 0;
    m_firstChunk = 0;
    m_reads = 0;
    m_stallDone = false;
    m_sha = cSha256();
    if (!m_options.outDir.empty()) {
        m_outPath = m_options.outDir + "/" + ImageName() + ".bin";
        m_outFd = open(m_outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_outFd < 0) {
            m_log.Line("ERROR: cannot write %s: %s; the image is checked without it",
                       m_outPath.c_str(), std::strerror(errno));
            m_outPath.clear();
        }
    }
    m_stage = Stage::kData;
}

void cCard::FinishImage() {
    std::string saved;
    if (m_outFd >= 0) {
        close(m_outFd);
        m_outFd = -1;
        // Fingerprinted after the last byte, not while it streams, so that the card reads as
        // fast as the line delivers.
        int fd = open(m_outPath.c_str(), O_RDONLY | O_CLOEXEC);
        void* view = fd >= 0 ? mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0) : MAP_FAILED;
        if (view != MAP_FAILED) {
            m_sha.Update(static_cast<const uint8_t*>(view), m_size);
            munmap(view, m_size);
            saved = ", saved as " + m_outPath;
        } else {
            m_log.Line("ERROR: cannot read back %s: %s", m_outPath.c_str(), std::strerror(errno));
        }
        if (fd >= 0) {
            close(fd);
        }
    }
    std::chrono::duration<double> seconds = m_lastByte - m_firstByte;
    uint64_t timed = m_size - m_firstChunk;
    m_log.Line(
        "%s received: %u bytes, sha256 %s, %s MB/s (%llu bytes in %.6f s after the first read; "
        "%zu reads)%s",
        ImageName(), m_size, m_sha.HexDigest().c_str(), Throughput(timed, seconds.count()).c_str(),
        static_cast<unsigned long long>(timed), seconds.count(), m_reads, saved.c_str());
    ++m_loadImages;
    m_loadBytes += m_size;
    m_loadTimedBytes += timed;
    m_loadSeconds += seconds.count();
    Reply(FaultPoint::kPost, "PostFirmware response", qdl::PostPayload());
    ++m_image;
    m_stage = m_image < qdl::ImageCount(m_options.generation) ? Stage::kPre1 : Stage::kFinal;
}

void cCard::CompleteLoad() {
    ++m_completed;
    m_loadActive = false;
    m_log.Line("load %d complete: %zu images, %llu bytes, %s MB/s", m_load, m_loadImages,
               static_cast<unsigned long long>(m_loadBytes),
               Throughput(m_loadTimedBytes, m_loadSeconds).c_str());
    m_stage = Stage::kInitial;
    if (!m_options.stay && (m_options.loads == 0 || m_completed >= m_options.loads)) {
        Finish("the loads are done");
    }
}

void cCard::FailLoad(const std::string& reason, bool hostAtFault) {
    m_log.Line("%s%s", hostAtFault ? "VIOLATION: " : "", reason.c_str());
    if (m_loadActive) {
        ++m_failed;
        m_log.Line("load %d failed", m_load);
    }
    ResetToInitial();
}

void cCard::ResetToInitial() {
    if (m_outFd >= 0) {
        close(m_outFd);
        m_outFd = -1;
    }
    m_loadActive = false;
    m_pending.clear();
    m_pendingTotal = 0;
    m_judging = false;
    m_stage = Stage::kInitial;
}

void cCard::Finish(const char* reason) {
    if (m_loadActive) {
        ++m_failed;
        m_log.Line("load %d unfinished: the card waited for %s", m_load, Expected().c_str());
        m_loadActive = false;
    }
    m_log.Line("end (%s): %d loads complete, %d failed", reason, m_completed, m_failed);
    m_done = true;
}
