// The card's replies as the port receives them: the input arrives in pieces of any size through
// the fake serial device and is read by ReceiveWithCRC, Receive and the initial message's
// answer (with the Gobi 2000 firmware preference taken from it).
//
// Input: payload length (2 bytes), a Receive count (2 bytes), the number of pieces (1 byte),
// one size byte per piece but the last, then the bytes that arrive.
#include <cstring>
#include <vector>

#include "download/crc.h"
#include "download/firmware_file_set.h"
#include "download/load_to_port.h"
#include "download/serial_port.h"
#include "fakes/serial_fake.h"
#include "fakes/shell_fake.h"
#include "fuzz_rig.h"
#include "platform/platform.h"

namespace {

constexpr uint32_t kMaxPayload = 1100;  // beyond the 1020 bytes a reply buffer can hold
constexpr size_t kMaxPieces = 8;
constexpr const wchar_t* kImages = L"C:\\Program Files\\QUALCOMM\\Images\\HP\\";

// Image folders for preferences 0 (complete), 1 (UQCN only, the rest from UMTS) and 2 (UQCN
// only, no UMTS APPS): the preference is applied, partly found or left alone.
void AddPreferredImages(DiscardingFileSystem& files) {
    for (const wchar_t* path : {L"0\\AMSS.mbn", L"0\\APPS.mbn", L"0\\UQCN.mbn", L"1\\UQCN.mbn",
                                L"2\\UQCN.mbn", L"UMTS\\AMSS.mbn"}) {
        files.AddFile(std::wstring(kImages) + path, {1});
    }
}

uint16_t FcsAt(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = [] {
        AddPreferredImages(FuzzFiles());
        return true;
    }();
    static_cast<void>(prepared);

    FuzzInput input(data, size);
    const uint32_t n = input.U16() % (kMaxPayload + 1);
    const uint32_t receiveCount = input.U16() % (kMaxPayload + 1);
    const size_t pieces = input.Byte() % kMaxPieces + 1;
    size_t sizes[kMaxPieces];
    for (size_t i = 0; i + 1 < pieces; ++i) {
        sizes[i] = input.Byte();
    }
    sizes[pieces - 1] = input.remaining();

    platform::fake::FakeSerialPorts serial;
    platform::fake::FakeShellFolders folders;
    platform::Platform p = platform::Get();
    p.serial = &serial;
    p.folders = &folders;
    platform::ScopedPlatform use(p);

    std::vector<uint8_t> first;
    for (size_t i = 0; i < pieces; ++i) {
        size_t taken = 0;
        std::unique_ptr<uint8_t[]> piece = input.Take(sizes[i], &taken);
        if (taken == 0) {
            continue;  // nothing arrives
        }
        std::vector<uint8_t> chunk(piece.get(), piece.get() + taken);
        if (first.empty()) {
            first = chunk;
        }
        serial.state().Arrive(std::move(chunk));
    }

    cSerialPort port;
    FUZZ_CHECK(port.Open(L"COM7\\QDLService"));

    // The payload goes to a buffer of exactly n bytes. A reply is accepted only when the first
    // piece holds a whole frame: flags at both ends and the FCS of exactly those payload bytes.
    std::unique_ptr<uint8_t[]> payload(new uint8_t[n]);
    if (port.ReceiveWithCRC(n, payload.get())) {
        FUZZ_CHECK(n + 4 <= 1024 && first.size() >= n + 4);
        FUZZ_CHECK(first[0] == 0x7E && first[n + 3] == 0x7E);
        FUZZ_CHECK(Crc16(first.data() + 1, n) == FcsAt(first, n + 1));
        FUZZ_CHECK(std::memcmp(payload.get(), first.data() + 1, n) == 0);
    }

    std::unique_ptr<uint8_t[]> buffer(new uint8_t[receiveCount]);
    uint32_t count = receiveCount;
    if (port.Receive(buffer.get(), count)) {
        FUZZ_CHECK(count <= receiveCount);
    } else {
        FUZZ_CHECK(count == 0);
    }

    FirmwareFileSet files;
    files.Amss = L"C:\\AMSS.MBN";
    files.Apps = L"C:\\APPS.MBN";
    files.Uqcn = L"C:\\UQCN.MBN";
    files.Vendor = L"HP";
    files.Generation = 2;
    SendInitialMessage(port, files);
    for (const std::wstring* path : {&files.Amss, &files.Apps, &files.Uqcn}) {
        FUZZ_CHECK(!path->empty() && path->size() < platform::kMaxPath);
    }
    port.Close();
    return 0;
}
