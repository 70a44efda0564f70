// raw_writer_win: the Windows baseline of the throughput benchmark, run under the same Wine as
// qdlload.exe. It speaks the host side of the download protocol with nothing in between: the
// messages, then each image as overlapped 256 KiB WriteFile calls, each block copied from a
// mapping of the file into a block buffer and followed by a zero-byte write, as the loader must.
// What it costs is what Wine and the pty cost any program; qdlload.exe against it is what our
// own code costs under Wine.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

#include "qdl_messages.h"

namespace {

constexpr DWORD kReplyWaitMs = 2000;

const wchar_t kUsage[] =
    L"usage: raw_writer_win COMn --generation 1|2 --amss FILE --apps FILE [--uqcn FILE]\n";

bool Fail(const char* what, DWORD code) {
    std::fprintf(stderr, "raw_writer_win: %s (error %lu)\n", what, code);
    return false;
}

// One handle, closed on every path.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) {
            CloseHandle(h_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool ok() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

class Port {
  public:
    Port(HANDLE file, HANDLE event) : file_(file), event_(event) {}
    bool ok() const { return file_.ok() && event_.ok(); }

    // A read ends 2 ms after the line goes quiet; a reply's own limit is Receive's 2 s wait.
    bool SetReadInterval() {
        COMMTIMEOUTS timeouts = {};
        timeouts.ReadIntervalTimeout = 2;
        return SetCommTimeouts(file_.get(), &timeouts) ||
               Fail("SetCommTimeouts failed", GetLastError());
    }

    // An overlapped write of the whole buffer, waited for; zero bytes is allowed.
    bool Write(const uint8_t* bytes, DWORD count) {
        OVERLAPPED o = {};
        o.hEvent = event_.get();
        DWORD done = 0;
        if (!WriteFile(file_.get(), bytes, count, nullptr, &o) &&
            GetLastError() != ERROR_IO_PENDING) {
            return Fail("WriteFile failed", GetLastError());
        }
        if (!GetOverlappedResult(file_.get(), &o, &done, TRUE)) {
            return Fail("write failed", GetLastError());
        }
        return done == count || Fail("short write", 0);
    }
    bool Send(const Bytes& message) {
        return Write(message.data(), static_cast<DWORD>(message.size()));
    }

    // Reads a framed reply of payloadSize bytes and checks its flags, FCS and command byte.
    bool Receive(size_t payloadSize, uint8_t command) {
        Bytes reply(payloadSize + 4);
        size_t have = 0;
        while (have < reply.size()) {
            OVERLAPPED o = {};
            o.hEvent = event_.get();
            DWORD got = 0;
            const DWORD want = static_cast<DWORD>(reply.size() - have);
            if (!ReadFile(file_.get(), reply.data() + have, want, nullptr, &o) &&
                GetLastError() != ERROR_IO_PENDING) {
                return Fail("ReadFile failed", GetLastError());
            }
            if (WaitForSingleObject(event_.get(), kReplyWaitMs) != WAIT_OBJECT_0) {
                CancelIo(file_.get());
                GetOverlappedResult(file_.get(), &o, &got, TRUE);
                return Fail("no complete reply within 2 s", 0);
            }
            if (!GetOverlappedResult(file_.get(), &o, &got, TRUE)) {
                return Fail("read failed", GetLastError());
            }
            have += got;
        }
        if (reply.front() != qdl::kFlag || reply.back() != qdl::kFlag || reply[1] != command ||
            reply != qdl::Framed(Bytes(reply.begin() + 1, reply.end() - 3))) {
            return Fail("bad reply", 0);
        }
        return true;
    }

  private:
    Handle file_;
    Handle event_;
};

bool SendImage(Port& port, const wchar_t* path, const qdl::ImageKind& kind) {
    Handle file(
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.ok()) {
        return Fail("cannot open an image", GetLastError());
    }
    LARGE_INTEGER length = {};
    if (!GetFileSizeEx(file.get(), &length) || length.QuadPart <= kind.trailer ||
        length.QuadPart > 0xFFFFFFFFLL) {
        return Fail("unusable image size", 0);
    }
    const uint32_t size = static_cast<uint32_t>(length.QuadPart - kind.trailer);
    Handle mapping(CreateFileMappingW(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    const auto* bytes = static_cast<const uint8_t*>(
        mapping.ok() ? MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
    if (bytes == nullptr) {
        return Fail("cannot map an image", GetLastError());
    }
    bool ok = port.Send(qdl::Framed(qdl::Pre1Payload(kind.type, size))) && port.Receive(8, 0x26) &&
              port.Send(qdl::Unframed(qdl::Pre2Payload(size)));
    static uint8_t block[qdl::kBlockSize];
    for (uint32_t offset = 0; ok && offset < size; offset += qdl::kBlockSize) {
        const DWORD n = static_cast<DWORD>(std::min<size_t>(qdl::kBlockSize, size - offset));
        std::memcpy(block, bytes + offset, n);
        ok = port.Write(block, n) && port.Write(block, 0);
    }
    UnmapViewOfFile(bytes);
    return ok && port.Receive(9, 0x28);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int generation = 0;
    const wchar_t* paths[3] = {};
    for (int i = 2; i + 1 < argc; i += 2) {
        const wchar_t* name = argv[i];
        const wchar_t* value = argv[i + 1];
        if (std::wcscmp(name, L"--generation") == 0 &&
            (std::wcscmp(value, L"1") == 0 || std::wcscmp(value, L"2") == 0)) {
            generation = value[0] - L'0';
        } else if (std::wcscmp(name, L"--amss") == 0) {
            paths[0] = value;
        } else if (std::wcscmp(name, L"--apps") == 0) {
            paths[1] = value;
        } else if (std::wcscmp(name, L"--uqcn") == 0) {
            paths[2] = value;
        } else {
            generation = 0;
            break;
        }
    }
    const size_t images = qdl::ImageCount(generation);
    if (argc < 2 || argc % 2 != 0 || generation == 0 || paths[0] == nullptr ||
        paths[1] == nullptr || (images == 3) != (paths[2] != nullptr)) {
        std::fputws(kUsage, stderr);
        return 2;
    }
    wchar_t device[64];
    std::swprintf(device, 64, L"\\\\.\\%ls\\QDLService", argv[1]);
    Port port(CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr),
              CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!port.ok()) {
        Fail("cannot open the port", GetLastError());
        return 1;
    }
    bool ok = port.SetReadInterval() && port.Send(qdl::Framed(qdl::InitialPayload(generation))) &&
              port.Receive(49, 0x02);
    for (size_t i = 0; ok && i < images; ++i) {
        ok = SendImage(port, paths[i], qdl::kImages[i]);
    }
    ok = ok && port.Send(qdl::Framed(qdl::FinalPayload()));
    return ok ? 0 : 1;
}
