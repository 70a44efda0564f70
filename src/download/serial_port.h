// The card's serial port (its QDLoader port), with overlapped writes and reads that give up
// after 2000 ms or when cancelled from another thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

namespace platform {
class Event;
class SerialDevice;
}  // namespace platform

class cSerialPort {
  public:
    cSerialPort();
    ~cSerialPort();  // closes the port
    cSerialPort(const cSerialPort&) = delete;
    cSerialPort& operator=(const cSerialPort&) = delete;

    // name is the device name without the "\\.\" prefix, for example COM7\QDLService.
    // True exactly when the port is open afterwards.
    bool Open(const wchar_t* name);
    void Close();
    bool IsOpen() const;

    // True when all count bytes were written.
    bool Send(const uint8_t* bytes, uint32_t count);
    // Reads at most count bytes; on success count is set to the number read.
    bool Receive(uint8_t* buffer, uint32_t& count);
    // Receives one framed message with an n-byte payload, checks it and copies the payload.
    bool ReceiveWithCRC(uint32_t n, uint8_t* out);
    // The port's own I/O buffer, of at least size bytes (null when it cannot be had). Every
    // write and read goes through it; a Send of bytes already in it is not copied again. Valid
    // until the next call of this, Send, Receive or Close.
    uint8_t* Buffer(uint32_t size);

  private:
    friend void SetCurrentPort(cSerialPort* port);
    friend void SetCurrentPort(cSerialPort* port, uint32_t ticket);
    friend void CancelCurrentPort();
    // Ends a pending write or read and waits until it has ended, at most 2000 ms; a write or
    // read that has still not ended is left to the driver (see Abandon).
    void CancelPending();
    // Gives the port up to a write or read that did not end when cancelled: the driver may still
    // write into its overlapped record and buffer, so the device, its I/O event and the buffer
    // are kept, never freed, for the life of the process; the port is closed without them.
    void Abandon();
    // True once for a cancel that came while this port was current but had no cancel event.
    bool TakeEarlyCancel();

    std::unique_ptr<platform::SerialDevice> device_;  // the port handle and overlapped record
    std::unique_ptr<platform::Event> ioEvent_;        // manual reset, the overlapped record's
    std::unique_ptr<uint8_t[]> buffer_;               // what the driver reads from or writes to
    uint32_t bufferSize_ = 0;
    // Auto reset; made anew by each Open. Written only under the current-port lock, so that a
    // cancel from another thread never signals an event that is being closed.
    std::unique_ptr<platform::Event> cancelEvent_;
    // A cancel of the current port before Open made its cancel event (or while it was closed):
    // the next Send or Receive fails as cancelled, as it would have in the event's wait.
    std::atomic<bool> earlyCancel_{false};
};

// The process-wide current port: the port of the download in progress, or none. A port made
// current this way starts without a cancel.
void SetCurrentPort(cSerialPort* port);
// The number of cancels so far, a ticket for the port that a download is about to make current:
// a cancel that comes after the ticket was taken, even while no port is current yet, reaches the
// port made current with it (its first Send or Receive fails as cancelled).
uint32_t CancelTicket();
void SetCurrentPort(cSerialPort* port, uint32_t ticket);
// Signals the current port's cancel event, if there is a current port with one. Any thread.
void CancelCurrentPort();
