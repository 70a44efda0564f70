#include "fakes/serial_fake.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/platform.h"
#include "platform/sync.h"

namespace platform::fake {

class FakeSerialDevice : public SerialDevice {
  public:
    explicit FakeSerialDevice(std::shared_ptr<FakeSerialState> state) : state_(std::move(state)) {}

    ~FakeSerialDevice() override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        // Closed while the driver may still end its operation into the freed record.
        std::vector<FakeSerialDevice*>& ignoring = state_->ignoring_cancel_;
        const auto found = std::find(ignoring.begin(), ignoring.end(), this);
        if (found != ignoring.end()) {
            ignoring.erase(found);
            state_->calls_.push_back("Close with an operation pending");
        } else {
            state_->calls_.push_back("Close");
        }
        --state_->open_devices_;
    }

    ErrorCode GetState(SerialState* state) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("GetState " + std::to_string(state->DCBlength));
        if (ErrorCode code = state_->script_.Check("GetState"); code != 0) {
            return code;
        }
        const uint32_t length = state->DCBlength;
        *state = state_->reported_;
        state->DCBlength = length;
        return 0;
    }

    ErrorCode SetState(const SerialState& state) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("SetState");
        if (ErrorCode code = state_->script_.Check("SetState"); code != 0) {
            return code;
        }
        state_->state_set_ = true;
        state_->last_state_ = state;
        return 0;
    }

    ErrorCode SetTimeouts(const SerialTimeouts& timeouts) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("SetTimeouts");
        if (ErrorCode code = state_->script_.Check("SetTimeouts"); code != 0) {
            return code;
        }
        state_->timeouts_set_ = true;
        state_->last_timeouts_ = timeouts;
        return 0;
    }

    ErrorCode Purge(uint32_t flags) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("Purge " + std::to_string(flags));
        state_->purges_.push_back(flags);
        return state_->script_.Check("Purge");
    }

    IoStartResult StartWrite(const uint8_t* bytes, uint32_t count) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("StartWrite " + std::to_string(count));
        FakeIo plan;
        if (!state_->write_plans_.empty()) {
            plan = state_->write_plans_.front();
            state_->write_plans_.pop_front();
        }
        return StartLocked(plan, bytes, nullptr, count);
    }

    IoStartResult StartRead(uint8_t* buffer, uint32_t count) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("StartRead " + std::to_string(count));
        FakeIo plan;
        if (!state_->read_plans_.empty()) {
            plan = state_->read_plans_.front();
            state_->read_plans_.pop_front();
        } else if (state_->input_.empty()) {
            plan.start = FakeIo::Start::kPending;
            plan.wait = FakeIo::Wait::kTimeout;
        }
        return StartLocked(plan, nullptr, buffer, count);
    }

    IoWaitResult Wait(Event* cancelEvent, uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("Wait " + std::to_string(timeoutMs));
        if (!op_.active || op_.ended) {
            return {IoWait::kIoDone, 0};
        }
        switch (op_.plan.wait) {
            case FakeIo::Wait::kIoDone:
                EndLocked();
                return {IoWait::kIoDone, 0};
            case FakeIo::Wait::kTimeout:
                return {TakeCancel(cancelEvent, 0) ? IoWait::kCancelled : IoWait::kTimeout, 0};
            case FakeIo::Wait::kLateDone:
                if (TakeCancel(cancelEvent, 0)) {
                    return {IoWait::kCancelled, 0};
                }
                EndLocked();
                return {IoWait::kTimeout, 0};
            case FakeIo::Wait::kBlock: {
                ++state_->blocked_waits_;
                state_->blocked_changed_.notify_all();
                lock.unlock();
                const bool cancelled = TakeCancel(cancelEvent, timeoutMs);
                return {cancelled ? IoWait::kCancelled : IoWait::kTimeout, 0};
            }
            case FakeIo::Wait::kFailed:
                return {IoWait::kFailed, op_.plan.waitCode};
            case FakeIo::Wait::kOther:
                return {IoWait::kOther, op_.plan.waitCode};
        }
        return {IoWait::kOther, 0};
    }

    ErrorCode GetResult(bool wait, uint32_t* count) override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back(wait ? "GetResult wait" : "GetResult");
        if (op_.active && !op_.ended) {
            if (!wait || !op_.plan.endsOnCancel) {
                *count = 0;
                return serial_error::kIoIncomplete;
            }
            EndLocked();
        }
        *count = op_.count;
        return op_.code;
    }

    ErrorCode CancelIo() override {
        std::lock_guard<std::mutex> lock(state_->mutex_);
        state_->calls_.push_back("CancelIo");
        if (op_.active && !op_.ended && !op_.plan.endsOnCancel) {
            state_->ignoring_cancel_.push_back(this);
        } else if (op_.active && !op_.ended) {
            op_.ended = true;
            op_.count = 0;
            op_.code = error::kOperationAborted;
        }
        return 0;
    }

    // With the state's mutex held.
    void EndLateLocked() {
        if (op_.active && !op_.ended) {
            EndLocked();
        }
    }

  private:
    struct Operation {
        bool active = false;
        bool ended = false;
        FakeIo plan;
        const uint8_t* source = nullptr;  // a write's bytes
        uint8_t* target = nullptr;        // a read's buffer
        uint32_t requested = 0;
        uint32_t count = 0;
        ErrorCode code = 0;
    };

    IoStartResult StartLocked(const FakeIo& plan, const uint8_t* source, uint8_t* target,
                              uint32_t count) {
        op_ = Operation{};
        if (plan.start == FakeIo::Start::kFail) {
            return {IoStart::kFailed, 0, plan.startError};
        }
        op_.active = true;
        op_.plan = plan;
        op_.source = source;
        op_.target = target;
        op_.requested = count;
        if (plan.start == FakeIo::Start::kPending) {
            return {IoStart::kPending, 0, 0};
        }
        EndLocked();
        op_.code = 0;
        return {IoStart::kDone, op_.count, 0};
    }

    // The operation ends: a write takes its bytes, a read takes from the next chunk of input.
    void EndLocked() {
        uint32_t moved = std::min(op_.requested, op_.plan.limit);
        if (op_.source != nullptr) {
            state_->written_.insert(state_->written_.end(), op_.source, op_.source + moved);
            state_->writes_.emplace_back(op_.source, op_.source + moved);
        } else if (state_->input_.empty()) {
            moved = 0;
        } else {
            std::vector<uint8_t>& chunk = state_->input_.front();
            moved = std::min<uint32_t>(moved, static_cast<uint32_t>(chunk.size()));
            if (moved > 0) {
                std::memcpy(op_.target, chunk.data(), moved);
            }
            chunk.erase(chunk.begin(), chunk.begin() + moved);
            if (chunk.empty()) {
                state_->input_.pop_front();
            }
        }
        op_.ended = true;
        op_.count = moved;
        op_.code = op_.plan.resultError;
    }

    // Takes the cancel event's signal if it is set within timeoutMs, through the platform's
    // Sync so that any kind of event works.
    static bool TakeCancel(Event* cancelEvent, uint32_t timeoutMs) {
        if (cancelEvent == nullptr) {
            return false;
        }
        Event* events[] = {cancelEvent};
        return platform::Get().sync->WaitAny(events, 1, timeoutMs).status == WaitStatus::kSignaled;
    }

    std::shared_ptr<FakeSerialState> state_;
    Operation op_;
};

void FakeSerialState::ScriptWrite(const FakeIo& io) {
    std::lock_guard<std::mutex> lock(mutex_);
    write_plans_.push_back(io);
}

void FakeSerialState::ScriptRead(const FakeIo& io) {
    std::lock_guard<std::mutex> lock(mutex_);
    read_plans_.push_back(io);
}

void FakeSerialState::Arrive(std::vector<uint8_t> chunk) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!chunk.empty()) {
        input_.push_back(std::move(chunk));
    }
}

void FakeSerialState::SetReportedState(const SerialState& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    reported_ = state;
}

bool FakeSerialState::AwaitBlockedWait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return blocked_changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [this] { return blocked_waits_ > 0; });
}

void FakeSerialState::EndCancelledIo() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (FakeSerialDevice* device : ignoring_cancel_) {
        device->EndLateLocked();
    }
    ignoring_cancel_.clear();
}

std::vector<std::wstring> FakeSerialState::opened_paths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_paths_;
}

std::vector<std::string> FakeSerialState::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<uint8_t> FakeSerialState::written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<std::vector<uint8_t>> FakeSerialState::writes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return writes_;
}

bool FakeSerialState::state_set() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_set_;
}

SerialState FakeSerialState::last_state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_state_;
}

bool FakeSerialState::timeouts_set() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timeouts_set_;
}

SerialTimeouts FakeSerialState::last_timeouts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_timeouts_;
}

std::vector<uint32_t> FakeSerialState::purges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return purges_;
}

size_t FakeSerialState::pending_input() const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t total = 0;
    for (const auto& chunk : input_) {
        total += chunk.size();
    }
    return total;
}

int FakeSerialState::open_devices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_devices_;
}

FakeSerialPorts::FakeSerialPorts() : state_(std::make_shared<FakeSerialState>()) {
    state_->reported_ = TypicalReportedState();
}

std::unique_ptr<SerialDevice> FakeSerialPorts::Open(const std::wstring& devicePath, Event* ioEvent,
                                                    ErrorCode* error) {
    std::lock_guard<std::mutex> lock(state_->mutex_);
    state_->calls_.push_back(ioEvent != nullptr ? "Open" : "Open without I/O event");
    state_->opened_paths_.push_back(devicePath);
    if (ErrorCode code = state_->script_.Check("Open"); code != 0) {
        *error = code;
        return nullptr;
    }
    ++state_->open_devices_;
    return std::make_unique<FakeSerialDevice>(state_);
}

SerialState TypicalReportedState() {
    SerialState s{};
    s.DCBlength = sizeof(SerialState);
    s.BaudRate = 9600;
    s.fBinary = 1;
    s.fParity = 1;
    s.fOutxCtsFlow = 0;
    s.fOutxDsrFlow = 0;
    s.fDtrControl = serial::kDtrDisable;
    s.fDsrSensitivity = 0;
    s.fTXContinueOnXoff = 1;
    s.fOutX = 1;
    s.fInX = 1;
    s.fErrorChar = 1;
    s.fNull = 1;
    s.fRtsControl = 2;  // RTS_CONTROL_HANDSHAKE
    s.fAbortOnError = 1;
    s.fDummy2 = 0x15A5A;
    s.wReserved = 0x0102;
    s.XonLim = 2048;
    s.XoffLim = 512;
    s.ByteSize = 7;
    s.Parity = serial::kEvenParity;
    s.StopBits = serial::kTwoStopBits;
    s.XonChar = 0x11;
    s.XoffChar = 0x13;
    s.ErrorChar = '?';
    s.EofChar = 0x1A;
    s.EvtChar = 0x0D;
    s.wReserved1 = 0x0304;
    return s;
}

}  // namespace platform::fake
