#include "platform/win32/serial_win32.h"

#include <new>

#include "platform/win32/sync_win32.h"
#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

DCB ToDcb(const SerialState& s) {
    DCB d{};
    d.DCBlength = s.DCBlength;
    d.BaudRate = s.BaudRate;
    d.fBinary = s.fBinary;
    d.fParity = s.fParity;
    d.fOutxCtsFlow = s.fOutxCtsFlow;
    d.fOutxDsrFlow = s.fOutxDsrFlow;
    d.fDtrControl = s.fDtrControl;
    d.fDsrSensitivity = s.fDsrSensitivity;
    d.fTXContinueOnXoff = s.fTXContinueOnXoff;
    d.fOutX = s.fOutX;
    d.fInX = s.fInX;
    d.fErrorChar = s.fErrorChar;
    d.fNull = s.fNull;
    d.fRtsControl = s.fRtsControl;
    d.fAbortOnError = s.fAbortOnError;
    d.fDummy2 = s.fDummy2;
    d.wReserved = s.wReserved;
    d.XonLim = s.XonLim;
    d.XoffLim = s.XoffLim;
    d.ByteSize = s.ByteSize;
    d.Parity = s.Parity;
    d.StopBits = s.StopBits;
    d.XonChar = s.XonChar;
    d.XoffChar = s.XoffChar;
    d.ErrorChar = s.ErrorChar;
    d.EofChar = s.EofChar;
    d.EvtChar = s.EvtChar;
    d.wReserved1 = s.wReserved1;
    return d;
}

void FromDcb(const DCB& d, SerialState* s) {
    s->DCBlength = d.DCBlength;
    s->BaudRate = d.BaudRate;
    s->fBinary = d.fBinary;
    s->fParity = d.fParity;
    s->fOutxCtsFlow = d.fOutxCtsFlow;
    s->fOutxDsrFlow = d.fOutxDsrFlow;
    s->fDtrControl = d.fDtrControl;
    s->fDsrSensitivity = d.fDsrSensitivity;
    s->fTXContinueOnXoff = d.fTXContinueOnXoff;
    s->fOutX = d.fOutX;
    s->fInX = d.fInX;
    s->fErrorChar = d.fErrorChar;
    s->fNull = d.fNull;
    s->fRtsControl = d.fRtsControl;
    s->fAbortOnError = d.fAbortOnError;
    s->fDummy2 = d.fDummy2;
    s->wReserved = d.wReserved;
    s->XonLim = d.XonLim;
    s->XoffLim = d.XoffLim;
    s->ByteSize = d.ByteSize;
    s->Parity = d.Parity;
    s->StopBits = d.StopBits;
    s->XonChar = d.XonChar;
    s->XoffChar = d.XoffChar;
    s->ErrorChar = d.ErrorChar;
    s->EofChar = d.EofChar;
    s->EvtChar = d.EvtChar;
    s->wReserved1 = d.wReserved1;
}

class Win32SerialDevice : public SerialDevice {
  public:
    Win32SerialDevice(HANDLE handle, HANDLE ioEvent) : handle_(handle) {
        ZeroMemory(&overlapped_, sizeof overlapped_);
        overlapped_.hEvent = ioEvent;
    }
    ~Win32SerialDevice() override { CloseHandle(handle_); }

    ErrorCode GetState(SerialState* state) override {
        DCB dcb{};
        dcb.DCBlength = state->DCBlength;
        if (!GetCommState(handle_, &dcb)) {
            return GetLastError();
        }
        FromDcb(dcb, state);
        return 0;
    }

    ErrorCode SetState(const SerialState& state) override {
        DCB dcb = ToDcb(state);
        return SetCommState(handle_, &dcb) ? 0 : GetLastError();
    }

    ErrorCode SetTimeouts(const SerialTimeouts& t) override {
        COMMTIMEOUTS timeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                              t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                              t.WriteTotalTimeoutConstant};
        return SetCommTimeouts(handle_, &timeouts) ? 0 : GetLastError();
    }

    ErrorCode Purge(uint32_t flags) override {
        return PurgeComm(handle_, flags) ? 0 : GetLastError();
    }

    IoStartResult StartWrite(const uint8_t* bytes, uint32_t count) override {
        ClearOverlapped();
        DWORD moved = 0;
        if (WriteFile(handle_, bytes, count, &moved, &overlapped_)) {
            return {IoStart::kDone, moved, 0};
        }
        return Pending(GetLastError());
    }

    IoStartResult StartRead(uint8_t* buffer, uint32_t count) override {
        ClearOverlapped();
        DWORD moved = 0;
        if (ReadFile(handle_, buffer, count, &moved, &overlapped_)) {
            return {IoStart::kDone, moved, 0};
        }
        return Pending(GetLastError());
    }

    IoWaitResult Wait(Event* cancelEvent, uint32_t timeoutMs) override {
        HANDLE handles[2] = {overlapped_.hEvent, nullptr};
        DWORD count = 1;
        if (cancelEvent != nullptr) {
            handles[1] = EventHandle(cancelEvent);
            count = 2;
        }
        const DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeoutMs);
        if (result == WAIT_OBJECT_0) {
            return {IoWait::kIoDone, 0};
        }
        if (count == 2 && result == WAIT_OBJECT_0 + 1) {
            return {IoWait::kCancelled, 0};
        }
        if (result == WAIT_TIMEOUT) {
            return {IoWait::kTimeout, 0};
        }
        if (result == WAIT_FAILED) {
            return {IoWait::kFailed, GetLastError()};
        }
        return {IoWait::kOther, result};
    }

    ErrorCode GetResult(bool wait, uint32_t* count) override {
        DWORD moved = 0;
        const BOOL ok = GetOverlappedResult(handle_, &overlapped_, &moved, wait ? TRUE : FALSE);
        const ErrorCode error = ok ? 0 : GetLastError();
        *count = moved;
        return error;
    }

    ErrorCode CancelIo() override { return ::CancelIo(handle_) ? 0 : GetLastError(); }

  private:
    // The status and offset members; the event stays.
    void ClearOverlapped() {
        overlapped_.Internal = 0;
        overlapped_.InternalHigh = 0;
        overlapped_.Offset = 0;
        overlapped_.OffsetHigh = 0;
    }

    static IoStartResult Pending(DWORD error) {
        if (error == ERROR_IO_PENDING) {
            return {IoStart::kPending, 0, 0};
        }
        return {IoStart::kFailed, 0, error};
    }

    HANDLE handle_;
    OVERLAPPED overlapped_;
};

}  // namespace

std::unique_ptr<SerialDevice> Win32SerialPorts::Open(const std::wstring& devicePath, Event* ioEvent,
                                                     ErrorCode* error) {
    HANDLE handle =
        CreateFileW(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return nullptr;
    }
    std::unique_ptr<SerialDevice> device(new (std::nothrow) Win32SerialDevice(
        handle, ioEvent != nullptr ? EventHandle(ioEvent) : nullptr));
    if (!device) {
        CloseHandle(handle);
        *error = ERROR_NOT_ENOUGH_MEMORY;
    }
    return device;
}

}  // namespace platform::win32
