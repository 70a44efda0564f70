#include "download/frame.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "download/crc.h"
#include "download/serial_port.h"
#include "log/log.h"

namespace {

constexpr size_t kTraceLimit = 256;  // bytes of a frame that the trace shows
constexpr size_t kBytesPerLine = 16;
constexpr uint8_t kFlag = 0x7E;
constexpr wchar_t kHexDigits[] = L"0123456789ABCDEF";

// Puts payload and its FCS (low byte first) at frame + offset; the frame has room for both.
void PutPayloadAndFcs(uint8_t* frame, size_t offset, const uint8_t* payload, size_t n) {
    if (n > 0) {
        std::memcpy(frame + offset, payload, n);
    }
    const uint16_t fcs = Crc16(payload, n);
    frame[offset + n] = static_cast<uint8_t>(fcs & 0xFF);
    frame[offset + n + 1] = static_cast<uint8_t>(fcs >> 8);
}

// Traces and sends a frame of size bytes that fill() builds in a buffer of exactly that size.
template <typename Fill>
bool SendFrame(cSerialPort& port, const uint8_t* payload, size_t n, size_t size, Fill fill) {
    if (!port.IsOpen()) {
        return false;
    }
    if ((payload == nullptr && n > 0) || n > UINT32_MAX - 4) {
        return false;
    }
    std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[size]);
    if (!frame) {
        return false;
    }
    fill(frame.get());
    TraceFrame(L"Send: ", frame.get(), size);
    return port.Send(frame.get(), static_cast<uint32_t>(size));
}

}  // namespace

void TraceFrame(const wchar_t* prefix, const uint8_t* bytes, size_t count) {
    if (prefix == nullptr || bytes == nullptr || !LogIsOpen()) {
        return;
    }
    if (count > kTraceLimit) {
        count = kTraceLimit;
    }
    const std::wstring lead(prefix);
    std::wstring line = lead;
    size_t inLine = 0;
    for (size_t i = 0; i < count; ++i) {
        line += kHexDigits[bytes[i] >> 4];
        line += kHexDigits[bytes[i] & 0x0F];
        if (++inLine < kBytesPerLine) {
            line += L' ';
            continue;
        }
        LogWrite(L"%ls", line.c_str());
        line.assign(lead.size(), L' ');
        inLine = 0;
    }
    if (inLine > 0) {
        LogWrite(L"%ls", line.c_str());
    }
}

bool SendFramedMessage(cSerialPort& port, const uint8_t* payload, size_t n) {
    return SendFrame(port, payload, n, n + 4, [&](uint8_t* frame) {
        frame[0] = kFlag;
        PutPayloadAndFcs(frame, 1, payload, n);
        frame[n + 3] = kFlag;
    });
}

bool SendUnframedMessage(cSerialPort& port, const uint8_t* payload, size_t n) {
    return SendFrame(port, payload, n, n + 2,
                     [&](uint8_t* frame) { PutPayloadAndFcs(frame, 0, payload, n); });
}
