#include "download/serial_port.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <vector>

#include "download/crc.h"
#include "download/frame.h"
#include "log/log.h"
#include "platform/critical_section.h"
#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/sync.h"

namespace {

// No wait on the port lasts longer than this, a write or a read.
constexpr uint32_t kWaitMs = 2000;
// A reply is read into one buffer of this size.
constexpr uint32_t kReplyBufferSize = 1024;
constexpr uint32_t kFrameOverhead = 4;  // two flags and the FCS
constexpr uint8_t kFlag = 0x7E;
constexpr wchar_t kDevicePrefix[] = L"\\\\.\\";

// The port of the download in progress. The lock is held while the reference changes, while a
// port's cancel event is made or taken away, and while CancelCurrentPort signals: so a cancel
// either signals a live event or finds none, and never one that is being closed.
platform::CriticalSection g_currentLock;
cSerialPort* g_current = nullptr;
// Every CancelCurrentPort so far, current port or not (guarded by g_currentLock).
uint32_t g_cancels = 0;

// What a port gave up to a driver that never ended a cancelled write or read (see Abandon).
struct AbandonedIo {
    std::unique_ptr<platform::SerialDevice> device;
    std::unique_ptr<platform::Event> ioEvent;
    std::unique_ptr<uint8_t[]> buffer;
};

// Guarded by g_currentLock; made on first use and deliberately never freed.
std::vector<AbandonedIo>& Abandoned() {
    static auto* const abandoned = new std::vector<AbandonedIo>;
    return *abandoned;
}

// A Windows code as the messages print it, with %d.
int AsLogInt(uint32_t value) {
    return static_cast<int>(value);
}

// "\\.\" followed by name, in a buffer of kMaxPath characters. False when the path (with its
// terminator) does not fit; the buffer then holds the path cut to kMaxPath - 1 characters.
bool BuildDevicePath(const wchar_t* name, wchar_t (&path)[platform::kMaxPath]) {
    const size_t prefixLength = std::wcslen(kDevicePrefix);
    const size_t nameLength = std::wcslen(name);
    const size_t room = platform::kMaxPath - 1 - prefixLength;
    const size_t copied = std::min(nameLength, room);
    std::wmemcpy(path, kDevicePrefix, prefixLength);
    std::wmemcpy(path + prefixLength, name, copied);
    path[prefixLength + copied] = L'\0';
    return nameLength <= room;
}

}  // namespace

cSerialPort::cSerialPort() = default;

cSerialPort::~cSerialPort() {
    {
        // A port that dies while still current must not be reachable by a later cancel.
        platform::LockGuard lock(g_currentLock);
        if (g_current == this) {
            g_current = nullptr;
        }
    }
    Close();
}

bool cSerialPort::IsOpen() const {
    return device_ != nullptr;
}

bool cSerialPort::Open(const wchar_t* name) {
    Close();
    if (name == nullptr) {
        name = L"";
    }
    const platform::Platform& p = platform::Get();
    platform::ErrorCode error = 0;

    ioEvent_ = p.sync->CreateEvent(true, true, &error);
    if (!ioEvent_) {
        return false;
    }

    wchar_t path[platform::kMaxPath];
    if (!BuildDevicePath(name, path)) {
        // A path longer than MAX_PATH is refused as the system refuses it, without a call.
        LogWrite(L"cSerialPort.Open: Unable to open port %ls. ErrorCode: %d", path,
                 AsLogInt(platform::error::kFilenameExcedRange));
        Close();
        return false;
    }
    device_ = p.serial->Open(path, ioEvent_.get(), &error);
    if (!device_) {
        LogWrite(L"cSerialPort.Open: Unable to open port %ls. ErrorCode: %d", path,
                 AsLogInt(error));
        Close();
        return false;
    }

    platform::SerialState dcb{};
    dcb.DCBlength = sizeof(dcb);
    if ((error = device_->GetState(&dcb)) != 0) {
        LogWrite(L"cSerialPort.Open: GetCommState error %d", AsLogInt(error));
        Close();
        return false;
    }
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = platform::serial::kNoParity;
    dcb.StopBits = platform::serial::kOneStopBit;
    dcb.fOutxCtsFlow = 1;
    dcb.fOutxDsrFlow = 1;
    dcb.fDtrControl = platform::serial::kDtrEnable;
    dcb.fDsrSensitivity = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fAbortOnError = 0;
    if ((error = device_->SetState(dcb)) != 0) {
        LogWrite(L"cSerialPort.Open: SetCommState error %d", AsLogInt(error));
        Close();
        return false;
    }

    // A read sets no limit on the wait for its first byte and ends once the line has been quiet
    // for 2 ms after a byte; the 2000 ms wait bounds it. A write may take 1000 ms a byte plus 1.
    const platform::SerialTimeouts timeouts{2, 0, 0, 1000, 1};
    if ((error = device_->SetTimeouts(timeouts)) != 0) {
        LogWrite(L"cSerialPort.Open: SetCommTimeouts error %d", AsLogInt(error));
        Close();
        return false;
    }

    device_->Purge(platform::serial::kPurgeTxAbort | platform::serial::kPurgeRxAbort |
                   platform::serial::kPurgeTxClear | platform::serial::kPurgeRxClear);

    std::unique_ptr<platform::Event> cancel = p.sync->CreateEvent(false, false, &error);
    if (!cancel) {
        LogWrite(L"cSerialPort.Open: Unable to create Cancel Event, error %d", AsLogInt(error));
        Close();
        return false;
    }
    {
        platform::LockGuard lock(g_currentLock);
        cancelEvent_ = std::move(cancel);
    }
    LogWrite(L"Port %ls is opened.", name);
    return true;
}

void cSerialPort::Close() {
    device_.reset();
    ioEvent_.reset();
    buffer_.reset();
    bufferSize_ = 0;
    std::unique_ptr<platform::Event> cancel;
    {
        platform::LockGuard lock(g_currentLock);
        cancel = std::move(cancelEvent_);
    }
    // Closed outside the lock: no cancel can reach it any more.
}

bool cSerialPort::TakeEarlyCancel() {
    return earlyCancel_.exchange(false);
}

uint8_t* cSerialPort::Buffer(uint32_t size) {
    if (size > bufferSize_ || !buffer_) {
        buffer_.reset(new (std::nothrow) uint8_t[size > 0 ? size : 1]);
        bufferSize_ = buffer_ ? size : 0;
    }
    return buffer_.get();
}

void cSerialPort::CancelPending() {
    device_->CancelIo();
    // CancelIo only asks the driver to end the request. One that never does (a USB serial
    // driver after a surprise removal) would hold the service thread here for ever, and the
    // service in STOP_PENDING: the wait for the end is bounded as every wait on the port is.
    if (device_->Wait(nullptr, kWaitMs).status != platform::IoWait::kIoDone) {
        Abandon();
        return;
    }
    uint32_t ignored = 0;
    device_->GetResult(true, &ignored);  // the I/O has ended: this returns at once
}

void cSerialPort::Abandon() {
    LogWrite(L"SerialPort: The cancelled operation has not ended; the port is given up.");
    {
        platform::LockGuard lock(g_currentLock);
        Abandoned().push_back(
            AbandonedIo{std::move(device_), std::move(ioEvent_), std::move(buffer_)});
    }
    Close();
}

bool cSerialPort::Send(const uint8_t* bytes, uint32_t count) {
    if (!device_) {
        return false;
    }
    if (bytes == nullptr && count > 0) {
        return false;
    }
    if (TakeEarlyCancel()) {
        LogWrite(L"SerialPort.Send: Operation cancelled.");
        return false;
    }
    // The driver takes the bytes from the port's own buffer, which outlives a write that does
    // not end when cancelled; bytes built in it are not copied.
    const auto at = reinterpret_cast<uintptr_t>(bytes);
    const auto first = reinterpret_cast<uintptr_t>(buffer_.get());
    const bool inBuffer =
        buffer_ && count <= bufferSize_ && at >= first && at - first <= bufferSize_ - count;
    if (!inBuffer && count > 0) {
        uint8_t* buffer = Buffer(count);
        if (buffer == nullptr) {
            LogWrite(L"SerialPort.Send: Not enough memory for %d bytes.", AsLogInt(count));
            return false;
        }
        std::memcpy(buffer, bytes, count);
        bytes = buffer;
    }
    const platform::IoStartResult start = device_->StartWrite(bytes, count);
    if (start.status == platform::IoStart::kDone) {
        return start.count == count;
    }
    if (start.status == platform::IoStart::kFailed) {
        LogWrite(L"SerialPort.Send: WriteFile failed with %d", AsLogInt(start.error));
        return false;
    }

    const platform::IoWaitResult wait = device_->Wait(cancelEvent_.get(), kWaitMs);
    switch (wait.status) {
        case platform::IoWait::kIoDone: {
            uint32_t written = 0;
            if (platform::ErrorCode error = device_->GetResult(true, &written); error != 0) {
                LogWrite(L"SerialPort.Send: GetOverlappedResult failed with %d", AsLogInt(error));
                return false;
            }
            return written == count;
        }
        case platform::IoWait::kTimeout:
            LogWrite(L"SerialPort.Send: Sending timed out.");
            break;
        case platform::IoWait::kCancelled:
            LogWrite(L"SerialPort.Send: Operation cancelled.");
            break;
        case platform::IoWait::kFailed:
            LogWrite(L"SerialPort.Send: WaitForMultipleObjects failed with %d",
                     AsLogInt(wait.code));
            break;
        case platform::IoWait::kOther:
            LogWrite(L"SerialPort.Send: WaitForMultipleObjects returned %d",
                     static_cast<int>(wait.code));
            break;
    }
    CancelPending();
    return false;
}

bool cSerialPort::Receive(uint8_t* buffer, uint32_t& count) {
    if (!device_) {
        return false;
    }
    const uint32_t requested = count;
    count = 0;
    if (buffer == nullptr && requested > 0) {
        return false;
    }
    if (TakeEarlyCancel()) {
        LogWrite(L"SerialPort.Receive: Operation cancelled.");
        return false;
    }
    // The driver writes into the port's own buffer, which outlives a read that does not end
    // when cancelled; what was read is copied to the caller's.
    uint8_t* const target = Buffer(requested);
    if (target == nullptr) {
        LogWrite(L"SerialPort.Receive: Not enough memory for %d bytes.", AsLogInt(requested));
        return false;
    }
    const platform::IoStartResult start = device_->StartRead(target, requested);
    if (start.status == platform::IoStart::kDone) {
        count = std::min(start.count, requested);
        std::copy(target, target + count, buffer);
        return true;
    }
    if (start.status == platform::IoStart::kFailed) {
        LogWrite(L"SerialPort.Receive: ReadFile failed with %d", AsLogInt(start.error));
        return false;
    }

    const platform::IoWaitResult wait = device_->Wait(cancelEvent_.get(), kWaitMs);
    switch (wait.status) {
        case platform::IoWait::kIoDone: {
            uint32_t got = 0;
            if (platform::ErrorCode error = device_->GetResult(false, &got); error != 0) {
                LogWrite(L"SerialPort.Receive: GetOverlappedResult failed with %d",
                         AsLogInt(error));
                return false;
            }
            count = std::min(got, requested);
            std::copy(target, target + count, buffer);
            return true;
        }
        case platform::IoWait::kTimeout: {
            LogWrite(L"SerialPort.Receive: Receiving timed out.");
            uint32_t got = 0;
            if (device_->GetResult(false, &got) == 0) {
                got = std::min(got, requested);
                LogWrite(L"SerialPort.Receive: Received %d bytes only.", AsLogInt(got));
                if (got > 0) {
                    TraceFrame(L"Rcvd: ", target, got);
                }
            }
            break;
        }
        case platform::IoWait::kCancelled:
            LogWrite(L"SerialPort.Receive: Operation cancelled.");
            break;
        case platform::IoWait::kFailed:
            LogWrite(L"SerialPort.Receive: WaitForMultipleObjects failed with %d",
                     AsLogInt(wait.code));
            break;
        case platform::IoWait::kOther:
            LogWrite(L"SerialPort.Receive: WaitForMultipleObjects returned %d",
                     static_cast<int>(wait.code));
            break;
    }
    CancelPending();
    return false;
}

bool cSerialPort::ReceiveWithCRC(uint32_t n, uint8_t* out) {
    if (!device_) {
        return false;
    }
    if (out == nullptr && n > 0) {
        return false;
    }
    const uint64_t wanted = uint64_t{n} + kFrameOverhead;
    const uint32_t required = static_cast<uint32_t>(std::min<uint64_t>(wanted, kReplyBufferSize));
    uint8_t reply[kReplyBufferSize];
    uint32_t got = required;
    if (!Receive(reply, got)) {
        return false;
    }
    if (got > 0) {
        TraceFrame(L"Rcvd: ", reply, got);
    }
    if (got < required) {
        LogWrite(L"SerialPort.ReceiveWithCRC: Received only %d bytes, %d is the required amount",
                 AsLogInt(got), AsLogInt(required));
        return false;
    }
    if (reply[0] != kFlag) {
        LogWrite(L"SerialPort.ReceiveWithCRC: Not found wrapping 0x7E at the start of response.");
        return false;
    }
    if (reply[required - 1] != kFlag) {
        LogWrite(L"SerialPort.ReceiveWithCRC: Not found wrapping 0x7E at the end of response.");
        return false;
    }
    if (wanted > kReplyBufferSize) {
        // A payload this long cannot fit the reply buffer with its FCS and flags: the frame
        // cannot be whole, and checking it would read past the buffer.
        LogWrite(L"SerialPort.ReceiveWithCRC: Received only %d bytes, %d is the required amount",
                 AsLogInt(got), AsLogInt(wanted));
        return false;
    }
    const uint16_t fcs = static_cast<uint16_t>(reply[n + 1] | (reply[n + 2] << 8));
    if (Crc16(reply + 1, n) != fcs) {
        LogWrite(L"SerialPort.ReceiveWithCRC: Invalid CRC of the response.");
        return false;
    }
    std::copy(reply + 1, reply + 1 + n, out);
    return true;
}

void SetCurrentPort(cSerialPort* port) {
    platform::LockGuard lock(g_currentLock);
    if (port != nullptr) {
        port->earlyCancel_ = false;  // a new download starts without a cancel
    }
    g_current = port;
}

uint32_t CancelTicket() {
    platform::LockGuard lock(g_currentLock);
    return g_cancels;
}

void SetCurrentPort(cSerialPort* port, uint32_t ticket) {
    platform::LockGuard lock(g_currentLock);
    if (port != nullptr) {
        // A cancel since the ticket found no port to signal: the download starts cancelled.
        port->earlyCancel_ = g_cancels != ticket;
    }
    g_current = port;
}

void CancelCurrentPort() {
    platform::LockGuard lock(g_currentLock);
    ++g_cancels;
    if (g_current == nullptr) {
        return;
    }
    if (g_current->cancelEvent_) {
        g_current->cancelEvent_->Set();
    } else {
        g_current->earlyCancel_ = true;
    }
}
