// raw_writer: the baseline of the throughput benchmark. It speaks the host side of the download
// protocol with nothing in between: the same bytes as the loader (messages, then each image as
// 256 KiB blocking write() calls), so that the simulated card accepts it and measures what the
// pty itself can carry. It does the work on the data that the loader cannot leave out: each
// block is copied from a mapping of the file into a block buffer, and each is followed by a
// write of zero bytes.
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "qdl_messages.h"

namespace {

constexpr int kReplyWaitMs = 2000;

const char kUsage[] =
    "usage: raw_writer PORT_PATH --generation 1|2 --amss FILE --apps FILE [--uqcn FILE]\n";

bool Fail(const std::string& text) {
    std::fprintf(stderr, "raw_writer: %s\n", text.c_str());
    return false;
}

bool WriteAll(int fd, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = write(fd, bytes, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Fail(std::string("write failed: ") + std::strerror(errno));
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool Send(int fd, const Bytes& message) {
    return WriteAll(fd, message.data(), message.size());
}

// Reads a framed reply of payloadSize bytes and checks its flags, FCS and command byte.
bool Receive(int fd, size_t payloadSize, uint8_t command, const char* what) {
    Bytes reply;
    size_t need = payloadSize + 4;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
    uint8_t buffer[1024];
    while (reply.size() < need) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
            return Fail(std::string("no complete ") + what + " within 2 s; got " +
                        std::to_string(reply.size()) + " bytes");
        }
        ssize_t n = read(fd, buffer, need - reply.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return Fail(std::string("read failed: ") + std::strerror(errno));
        }
        reply.insert(reply.end(), buffer, buffer + n);
    }
    if (reply[0] != qdl::kFlag || reply[need - 1] != qdl::kFlag || reply[1] != command ||
        reply != qdl::Framed(Bytes(reply.begin() + 1, reply.end() - 3))) {
        return Fail(std::string("bad ") + what + ": " + qdl::Hex(reply));
    }
    return true;
}

bool SendImage(int fd, const std::string& path, const qdl::ImageKind& kind) {
    int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return Fail("cannot open " + path + ": " + std::strerror(errno));
    }
    struct stat info {};
    fstat(file, &info);
    if (info.st_size <= static_cast<off_t>(kind.trailer) || info.st_size > 0xFFFFFFFFLL) {
        close(file);
        return Fail("unusable size of " + path);
    }
    uint32_t size = static_cast<uint32_t>(info.st_size - kind.trailer);
    void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file, 0);
    close(file);
    if (view == MAP_FAILED) {
        return Fail("cannot map " + path + ": " + std::strerror(errno));
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(view);
    bool ok = Send(fd, qdl::Framed(qdl::Pre1Payload(kind.type, size))) &&
              Receive(fd, 8, 0x26, "answer to PreFirmware message 1") &&
              Send(fd, qdl::Unframed(qdl::Pre2Payload(size)));
    // As the loader must: each block copied from the mapping into one block buffer and written
    // from there, then a write of zero bytes.
    static uint8_t block[qdl::kBlockSize];
    for (uint32_t offset = 0; ok && offset < size; offset += qdl::kBlockSize) {
        const size_t n = std::min<size_t>(qdl::kBlockSize, size - offset);
        std::memcpy(block, bytes + offset, n);
        ok = WriteAll(fd, block, n);
        if (ok && write(fd, block, 0) < 0) {
            ok = Fail(std::string("zero-byte write failed: ") + std::strerror(errno));
        }
    }
    munmap(view, size);
    return ok && Receive(fd, 9, 0x28, "PostFirmware response");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string port = argv[1];
    int generation = 0;
    std::string paths[3];
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        std::string value = argv[i + 1];
        if (name == "--generation" && (value == "1" || value == "2")) {
            generation = value[0] - '0';
        } else if (name == "--amss") {
            paths[0] = value;
        } else if (name == "--apps") {
            paths[1] = value;
        } else if (name == "--uqcn") {
            paths[2] = value;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    size_t images = qdl::ImageCount(generation);
    if (argc % 2 != 0 || generation == 0 || paths[0].empty() || paths[1].empty() ||
        (images == 3) == paths[2].empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    int fd = open(port.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        Fail("cannot open " + port + ": " + std::strerror(errno));
        return 1;
    }
    termios mode{};
    if (tcgetattr(fd, &mode) == 0) {
        cfmakeraw(&mode);
        tcsetattr(fd, TCSANOW, &mode);
    }
    tcflush(fd, TCIOFLUSH);
    bool ok = Send(fd, qdl::Framed(qdl::InitialPayload(generation))) &&
              Receive(fd, 49, 0x02, "answer to the initial message");
    for (size_t i = 0; ok && i < images; ++i) {
        ok = SendImage(fd, paths[i], qdl::kImages[i]);
    }
    ok = ok && Send(fd, qdl::Framed(qdl::FinalPayload()));
    close(fd);
    return ok ? 0 : 1;
}
