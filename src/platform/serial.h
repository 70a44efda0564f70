// Serial devices: the card's port, opened by device path, with one overlapped write or read at a
// time. The adapters make the calls and report what happened; what a result means (how long to
// wait, what a time-out or a cancel does, what to log) is decided above this seam.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

class Event;

namespace serial_error {
constexpr ErrorCode kNotReady = 21;       // ERROR_NOT_READY
constexpr ErrorCode kIoIncomplete = 996;  // ERROR_IO_INCOMPLETE
}  // namespace serial_error

// The device control block (DCB), field for field, the flag bits included, so that a caller can
// change some fields and hand back the others exactly as the driver reported them.
struct SerialState {
    uint32_t DCBlength;
    uint32_t BaudRate;
    uint32_t fBinary : 1;
    uint32_t fParity : 1;
    uint32_t fOutxCtsFlow : 1;
    uint32_t fOutxDsrFlow : 1;
    uint32_t fDtrControl : 2;
    uint32_t fDsrSensitivity : 1;
    uint32_t fTXContinueOnXoff : 1;
    uint32_t fOutX : 1;
    uint32_t fInX : 1;
    uint32_t fErrorChar : 1;
    uint32_t fNull : 1;
    uint32_t fRtsControl : 2;
    uint32_t fAbortOnError : 1;
    uint32_t fDummy2 : 17;
    uint16_t wReserved;
    uint16_t XonLim;
    uint16_t XoffLim;
    uint8_t ByteSize;
    uint8_t Parity;
    uint8_t StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    uint16_t wReserved1;
};
static_assert(sizeof(SerialState) == 28, "laid out as the DCB");

namespace serial {
constexpr uint8_t kNoParity = 0;     // NOPARITY
constexpr uint8_t kOddParity = 1;    // ODDPARITY
constexpr uint8_t kEvenParity = 2;   // EVENPARITY
constexpr uint8_t kOneStopBit = 0;   // ONESTOPBIT
constexpr uint8_t kTwoStopBits = 2;  // TWOSTOPBITS
constexpr uint32_t kDtrDisable = 0;  // DTR_CONTROL_DISABLE
constexpr uint32_t kDtrEnable = 1;   // DTR_CONTROL_ENABLE
constexpr uint32_t kRtsEnable = 1;   // RTS_CONTROL_ENABLE
constexpr uint32_t kPurgeTxAbort = 0x01;
constexpr uint32_t kPurgeRxAbort = 0x02;
constexpr uint32_t kPurgeTxClear = 0x04;
constexpr uint32_t kPurgeRxClear = 0x08;
}  // namespace serial

// COMMTIMEOUTS, in milliseconds.
struct SerialTimeouts {
    uint32_t ReadIntervalTimeout;
    uint32_t ReadTotalTimeoutMultiplier;
    uint32_t ReadTotalTimeoutConstant;
    uint32_t WriteTotalTimeoutMultiplier;
    uint32_t WriteTotalTimeoutConstant;
};

// How an overlapped WriteFile or ReadFile started.
enum class IoStart {
    kDone,     // completed at once; count holds the bytes moved
    kPending,  // ERROR_IO_PENDING: it goes on in the background
    kFailed,   // failed at once with error
};

struct IoStartResult {
    IoStart status;
    uint32_t count;
    ErrorCode error;
};

// What ended a wait for the pending write or read and the cancel event
// (WaitForMultipleObjects over the I/O event, first, and the cancel event, second).
enum class IoWait {
    kIoDone,     // the I/O event (the write or read has ended)
    kCancelled,  // the cancel event; being auto-reset, its signal is taken by this wait
    kTimeout,    // WAIT_TIMEOUT
    kFailed,     // WAIT_FAILED; code holds the error code
    kOther,      // any other result; code holds it as the wait returned it
};

struct IoWaitResult {
    IoWait status;
    uint32_t code;
};

// One open serial device and its overlapped record. One write or read at a time; the buffer of
// a write or read must stay valid until GetResult has reported its end.
class SerialDevice {
  public:
    virtual ~SerialDevice() = default;  // CloseHandle
    // GetCommState into *state, whose DCBlength the caller has set.
    virtual ErrorCode GetState(SerialState* state) = 0;
    virtual ErrorCode SetState(const SerialState& state) = 0;           // SetCommState
    virtual ErrorCode SetTimeouts(const SerialTimeouts& timeouts) = 0;  // SetCommTimeouts
    virtual ErrorCode Purge(uint32_t flags) = 0;                        // PurgeComm
    // Clears the status and offset members of the overlapped record, then WriteFile / ReadFile.
    virtual IoStartResult StartWrite(const uint8_t* bytes, uint32_t count) = 0;
    virtual IoStartResult StartRead(uint8_t* buffer, uint32_t count) = 0;
    // Waits at most timeoutMs (kInfinite: no limit) for the I/O event and cancelEvent (an
    // auto-reset event of the platform's Sync; may be null). When both are set the I/O event is
    // reported and the cancel stays set.
    virtual IoWaitResult Wait(Event* cancelEvent, uint32_t timeoutMs) = 0;
    // GetOverlappedResult: 0 with *count the bytes moved, or the error code (with *count the
    // bytes moved before it); without wait, serial_error::kIoIncomplete while it goes on.
    virtual ErrorCode GetResult(bool wait, uint32_t* count) = 0;
    virtual ErrorCode CancelIo() = 0;  // CancelIo: the pending write or read ends with 995
};

class SerialPorts {
  public:
    virtual ~SerialPorts() = default;
    // CreateFileW: read and write access, no sharing, OPEN_EXISTING, overlapped. ioEvent is the
    // manual-reset event of the device's overlapped record; it must outlive the device.
    // Null with *error set on failure.
    virtual std::unique_ptr<SerialDevice> Open(const std::wstring& devicePath, Event* ioEvent,
                                               ErrorCode* error) = 0;
};

}  // namespace platform
