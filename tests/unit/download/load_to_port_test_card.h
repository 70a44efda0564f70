// A card in download mode for the download tests: the fake serial device, image files, shell
// folders and the captured log, with the card's replies built as framed messages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "download/crc.h"
#include "download/serial_port.h"
#include "fakes/images_fake.h"
#include "fakes/path_functions_fake.h"
#include "fakes/serial_fake.h"
#include "fakes/shell_fake.h"
#include "platform/platform.h"
#include "support/log_capture.h"

namespace download_test {

using Bytes = std::vector<uint8_t>;

// 0x7E, payload, FCS low, FCS high, 0x7E.
inline Bytes Framed(const Bytes& payload) {
    const uint16_t fcs = Crc16(payload.data(), payload.size());
    Bytes frame;
    frame.reserve(payload.size() + 4);
    frame.push_back(0x7E);
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(static_cast<uint8_t>(fcs));
    frame.push_back(static_cast<uint8_t>(fcs >> 8));
    frame.push_back(0x7E);
    return frame;
}

// payload, FCS low, FCS high.
inline Bytes Unframed(const Bytes& payload) {
    Bytes frame = Framed(payload);
    return Bytes(frame.begin() + 1, frame.end() - 1);
}

// The 49-byte answer to the initial message, with a firmware preference at bytes 25 to 28.
inline Bytes InitialAnswer(int32_t preference = -1, uint8_t command = 0x02) {
    Bytes payload(49, 0x11);
    payload[0] = command;
    const uint32_t p = static_cast<uint32_t>(preference);
    for (int i = 0; i < 4; ++i) {
        payload[25 + i] = static_cast<uint8_t>(p >> (8 * i));
    }
    return Framed(payload);
}

inline Bytes PreFirmwareAnswer(uint8_t command = 0x26) {
    Bytes payload(8, 0x22);
    payload[0] = command;
    return Framed(payload);
}

inline Bytes PostFirmwareResponse(uint8_t command = 0x28) {
    Bytes payload(9, 0x33);
    payload[0] = command;
    return Framed(payload);
}

// The initial message as sent: versions 04 04 for Gobi 1000, 05 05 otherwise.
inline Bytes InitialMessage(uint8_t version) {
    Bytes payload{0x01};
    for (char c : std::string("QCOM high speed protocol hst")) {
        payload.push_back(static_cast<uint8_t>(c));
    }
    payload.insert(payload.end(), {0, 0, 0, 0, version, version, 0x30});
    return Framed(payload);
}

inline Bytes Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

inline Bytes PreFirmware1(uint8_t type, uint32_t size) {
    Bytes payload{0x25, type};
    const Bytes le = Le32(size);
    payload.insert(payload.end(), le.begin(), le.end());
    payload.insert(payload.end(), {0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00});
    return Framed(payload);
}

inline Bytes PreFirmware2(uint32_t size) {
    Bytes payload{0x27, 0, 0, 0, 0, 0, 0};
    const Bytes le = Le32(size);
    payload.insert(payload.end(), le.begin(), le.end());
    return Unframed(payload);
}

inline const Bytes kFinalMessage = {0x7E, 0x29, 0, 0, 0, 0, 0, 0, 0, 0, 0xE9, 0x74, 0x7E};

// Distinct bytes for an image file, different for every seed.
inline Bytes ImageBytes(size_t size, uint8_t seed) {
    Bytes bytes(size);
    uint32_t x = 0x9E3779B9u * (seed + 1u);
    for (uint8_t& b : bytes) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return bytes;
}

// The fakes a download runs on; the log is captured for the fixture's lifetime.
class Card {
  public:
    Card() : use_(MakePlatform()) {}

    platform::fake::FakeSerialState& serial() { return ports_.state(); }
    platform::fake::FakeImageFiles& images() { return images_; }
    platform::fake::FakeShellFolders& folders() { return folders_; }
    platform::fake::FakePathFunctions& paths() { return paths_; }
    // Where the firmware preference looks for files (PathExists).
    platform::fake::FakeFileSystem& files() { return log_.files(); }
    std::vector<std::wstring> Lines() { return log_.Lines(); }

    // The log without the frame traces.
    std::vector<std::wstring> Steps() {
        std::vector<std::wstring> steps;
        for (std::wstring& line : log_.Lines()) {
            if (line.rfind(L"Send: ", 0) != 0 && line.rfind(L"Rcvd: ", 0) != 0 &&
                line.rfind(L"      ", 0) != 0) {
                steps.push_back(std::move(line));
            }
        }
        return steps;
    }

    // Every write, a zero-byte write as an empty entry.
    std::vector<Bytes> Writes() { return serial().writes(); }

  private:
    platform::Platform MakePlatform() {
        platform::Platform p = platform::Get();
        p.serial = &ports_;
        p.images = &images_;
        p.folders = &folders_;
        p.paths = &paths_;
        return p;
    }

    platform::fake::FakeSerialPorts ports_;
    platform::fake::FakeImageFiles images_;
    platform::fake::FakeShellFolders folders_;
    platform::fake::FakePathFunctions paths_;
    platform::ScopedPlatform use_;
    LogCapture log_;  // layered over the platform above
};

}  // namespace download_test
