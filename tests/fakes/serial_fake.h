// A scriptable serial device: each write and read can complete at once, fall short, fail to
// start, stay pending and then end, time out (with or without a late completion), be cancelled,
// or have its wait fail; the device records what was written and the settings it was given.
// The cancel event may come from any Sync (it is tested and taken through platform::Get().sync).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/serial.h"

namespace platform::fake {

class FakeSerialDevice;

// What one overlapped write or read does.
struct FakeIo {
    enum class Start {
        kDone,     // completes at once
        kPending,  // ERROR_IO_PENDING; then `wait` decides
        kFail,     // fails at once with startError
    };
    enum class Wait {
        kIoDone,    // the I/O event: ends now (even when a cancel is pending)
        kTimeout,   // WAIT_TIMEOUT (a pending cancel ends the wait instead); still pending
        kLateDone,  // WAIT_TIMEOUT, but the operation ends right then (GetResult succeeds)
        kBlock,     // a real wait for the cancel event, at most the wait's time limit
        kFailed,    // WAIT_FAILED with waitCode
        kOther,     // the wait returns waitCode
    };
    Start start = Start::kDone;
    ErrorCode startError = 0;
    Wait wait = Wait::kIoDone;
    uint32_t waitCode = 0;
    // A write takes at most this many bytes; a read delivers at most this many.
    uint32_t limit = UINT32_MAX;
    // GetOverlappedResult of the ended operation fails with this code (0: it succeeds).
    ErrorCode resultError = 0;
    // False: CancelIo does not end it, as a driver that never completes the cancelled request
    // (it ends only by FakeSerialState::EndCancelledIo); GetOverlappedResult with wait would
    // then never return: the fake answers ERROR_IO_INCOMPLETE instead.
    bool endsOnCancel = true;
};

// What the fake saw and what it will do; shared by the factory and the devices it opened.
class FakeSerialState {
  public:
    // Calls "Open", "GetState", "SetState", "SetTimeouts", "Purge" can be made to fail.
    FailureScript& script() { return script_; }

    // The next writes / reads do these, in order. Without a script a write takes every byte at
    // once; a read completes at once from the next chunk of input, or, with no input, stays
    // pending and times out.
    void ScriptWrite(const FakeIo& io);
    void ScriptRead(const FakeIo& io);
    // Input that arrives after a pause longer than the read interval: a read never takes
    // bytes from two chunks; the bytes of a chunk that a read does not take stay for the next.
    void Arrive(std::vector<uint8_t> chunk);
    // The block that GetCommState reports.
    void SetReportedState(const SerialState& state);

    // Blocks until a read or write wait of kind kBlock has begun (at most timeoutMs).
    bool AwaitBlockedWait(uint32_t timeoutMs);
    // The driver ends, late, the cancelled operations that CancelIo did not end: a write takes
    // its bytes from its buffer, a read puts the next input into its buffer.
    void EndCancelledIo();

    std::vector<std::wstring> opened_paths() const;
    std::vector<std::string> calls() const;  // e.g. "StartRead 53", "Wait 2000", "CancelIo"
    std::vector<uint8_t> written() const;    // every byte taken by the writes, in order
    std::vector<std::vector<uint8_t>> writes() const;  // the bytes each write took
    bool state_set() const;
    SerialState last_state() const;  // the block given to SetCommState
    bool timeouts_set() const;
    SerialTimeouts last_timeouts() const;
    std::vector<uint32_t> purges() const;
    size_t pending_input() const;  // bytes not yet read
    int open_devices() const;      // devices not yet closed

  private:
    friend class FakeSerialDevice;
    friend class FakeSerialPorts;
    std::vector<FakeSerialDevice*> ignoring_cancel_;  // devices whose operation did not end
    FailureScript script_;
    mutable std::mutex mutex_;
    std::condition_variable blocked_changed_;
    int blocked_waits_ = 0;
    std::deque<FakeIo> write_plans_;
    std::deque<FakeIo> read_plans_;
    std::deque<std::vector<uint8_t>> input_;
    SerialState reported_{};
    bool state_set_ = false;
    SerialState last_state_{};
    bool timeouts_set_ = false;
    SerialTimeouts last_timeouts_{};
    std::vector<uint32_t> purges_;
    std::vector<std::wstring> opened_paths_;
    std::vector<std::string> calls_;
    std::vector<uint8_t> written_;
    std::vector<std::vector<uint8_t>> writes_;
    int open_devices_ = 0;
};

class FakeSerialPorts : public SerialPorts {
  public:
    FakeSerialPorts();
    std::unique_ptr<SerialDevice> Open(const std::wstring& devicePath, Event* ioEvent,
                                       ErrorCode* error) override;
    FakeSerialState& state() { return *state_; }

  private:
    std::shared_ptr<FakeSerialState> state_;
};

// The block a Windows serial driver typically reports, with every flag the port's Open keeps
// set to a value it would not choose itself.
SerialState TypicalReportedState();

}  // namespace platform::fake
