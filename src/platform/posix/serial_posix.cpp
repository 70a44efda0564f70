#include "platform/posix/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <new>

#include "platform/posix/errno_map.h"
#include "platform/posix/host_path.h"
#include "platform/posix/sync_posix.h"

namespace platform::posix {

namespace {

using Nanos = int64_t;
constexpr Nanos kMillisecond = 1000000;
constexpr Nanos kNever = INT64_MAX;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;
constexpr ErrorCode kInvalidFunction = 1;  // ERROR_INVALID_FUNCTION: not a serial device

Nanos Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Nanos>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// start + multiplier * count + constant milliseconds; kNever when both are 0 or it is too far.
Nanos TotalDeadline(Nanos start, uint32_t multiplier, uint32_t count, uint32_t constant) {
    if (multiplier == 0 && constant == 0) {
        return kNever;
    }
    const uint64_t ms = uint64_t{multiplier} * count + constant;
    constexpr uint64_t kFarMs = uint64_t{1} << 40;  // decades
    return ms >= kFarMs ? kNever : start + static_cast<Nanos>(ms) * kMillisecond;
}

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},    {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},  {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};

// What Windows ports always are: binary, no echo, no line editing, no output processing.
void MakeRaw(termios& t) {
    t.c_iflag &=
        ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXANY);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when nothing has arrived
    t.c_cc[VTIME] = 0;
}

void OnWakeSignal(int) {}

// The signal that interrupts a write blocked on the line, with a handler that does nothing and
// no SA_RESTART, so that the write returns the count it has taken. -1 when it cannot be set up.
int WakeSignal() {
    static const int number = [] {
        const int candidate = SIGRTMIN + 4;
        struct sigaction action {};
        action.sa_handler = OnWakeSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        return sigaction(candidate, &action, nullptr) == 0 ? candidate : -1;
    }();
    return number;
}

// Writes what the tty could not take at once with blocking write() calls on a thread of its
// own: the kernel then refills the line whenever it has room, instead of waking the caller for
// every few kilobytes to poll and write again. The owner waits for DoneFd() together with its
// cancel event and its time-outs; Abort() ends a write that is blocked by interrupting it.
class LineWriter {
  public:
    LineWriter() = default;
    LineWriter(const LineWriter&) = delete;
    LineWriter& operator=(const LineWriter&) = delete;

    ~LineWriter() {
        if (running_) {
            quit_.store(true, std::memory_order_release);
            Kick(startFd_);
            pthread_join(thread_, nullptr);
        }
        if (startFd_ >= 0) {
            close(startFd_);
        }
        if (doneFd_ >= 0) {
            close(doneFd_);
        }
    }

    // The thread and its two eventfds; false when any of them cannot be had.
    bool Start(int fd) {
        fd_ = fd;
        startFd_ = eventfd(0, EFD_CLOEXEC);
        doneFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (startFd_ < 0 || doneFd_ < 0 || WakeSignal() < 0) {
            return false;
        }
        // Created with every signal blocked, so that none meant for the process lands on it
        // before it has set its own mask.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        running_ = pthread_create(&thread_, nullptr, &LineWriter::Main, this) == 0;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return running_;
    }

    int DoneFd() const { return doneFd_; }

    bool Begin(const uint8_t* bytes, uint32_t count) {
        source_.store(bytes, std::memory_order_relaxed);
        count_.store(count, std::memory_order_release);
        return Kick(startFd_);
    }

    // Whether the write handed over has ended; if so, the bytes it moved and the errno that
    // ended it early (0 for none).
    bool TryFinish(uint32_t* written, int* error) {
        uint64_t value = 0;
        if (read(doneFd_, &value, sizeof value) != static_cast<ssize_t>(sizeof value)) {
            return false;
        }
        *written = written_.load(std::memory_order_acquire);
        *error = error_.load(std::memory_order_acquire);
        return true;
    }

    // Ends the write handed over at once and reports as TryFinish. A signal that comes just
    // before the thread enters write() does not end it, so it is sent until the thread answers.
    void Abort(uint32_t* written, int* error) {
        abort_.store(true, std::memory_order_release);
        while (!TryFinish(written, error)) {
            pthread_kill(thread_, WakeSignal());
            pollfd done{doneFd_, POLLIN, 0};
            poll(&done, 1, 1);
        }
        abort_.store(false, std::memory_order_release);
    }

  private:
    static bool Kick(int eventFd) {
        const uint64_t one = 1;
        for (;;) {
            const ssize_t n = write(eventFd, &one, sizeof one);
            if (n == static_cast<ssize_t>(sizeof one)) {
                return true;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return false;
        }
    }

    static void* Main(void* self) {
        static_cast<LineWriter*>(self)->Run();
        return nullptr;
    }

    void Run() {
        sigset_t mask;
        sigfillset(&mask);
        sigdelset(&mask, WakeSignal());
        pthread_sigmask(SIG_SETMASK, &mask, nullptr);
        for (;;) {
            uint64_t value = 0;
            const ssize_t got = read(startFd_, &value, sizeof value);
            if (got != static_cast<ssize_t>(sizeof value)) {
                if (got < 0 && errno == EINTR) {
                    continue;
                }
                return;  // cannot happen with a valid eventfd; the owner's Abort would wait
            }
            if (quit_.load(std::memory_order_acquire)) {
                return;
            }
            WriteJob();
            Kick(doneFd_);
        }
    }

    void WriteJob() {
        const uint32_t count = count_.load(std::memory_order_acquire);
        const uint8_t* const bytes = source_.load(std::memory_order_relaxed);
        uint32_t done = 0;
        int error = 0;
        // The line is the owner's until this write has ended: no read goes on meanwhile, so it
        // can block for as long as the write.
        const int flags = fcntl(fd_, F_GETFL);
        const bool blocking = flags >= 0 && fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK) == 0;
        while (done < count && !abort_.load(std::memory_order_acquire)) {
            const ssize_t n = write(fd_, bytes + done, count - done);
            if (n > 0) {
                done += static_cast<uint32_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;  // an abort is seen by the loop
            }
            if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd line{fd_, POLLOUT, 0};  // still non-blocking: wait for room
                poll(&line, 1, -1);
                continue;
            }
            error = errno;
            break;
        }
        if (blocking) {
            fcntl(fd_, F_SETFL, flags);
        }
        written_.store(done, std::memory_order_relaxed);
        error_.store(error, std::memory_order_release);
    }

    int fd_ = -1;
    int startFd_ = -1;
    int doneFd_ = -1;
    pthread_t thread_{};
    bool running_ = false;
    std::atomic<const uint8_t*> source_{nullptr};
    std::atomic<uint32_t> count_{0};
    std::atomic<uint32_t> written_{0};
    std::atomic<int> error_{0};
    std::atomic<bool> abort_{false};
    std::atomic<bool> quit_{false};
};

class PosixSerialDevice : public SerialDevice {
  public:
    explicit PosixSerialDevice(int fd) : fd_(fd) {
        shadow_.DCBlength = sizeof(SerialState);
        shadow_.fBinary = 1;
        shadow_.fDtrControl = serial::kDtrEnable;
        shadow_.fRtsControl = serial::kRtsEnable;
        shadow_.XonLim = 2048;
        shadow_.XoffLim = 512;
    }
    ~PosixSerialDevice() override {
        if (Pending()) {
            End(error::kOperationAborted);  // a write with the line writer ends before the close
        }
        close(fd_);
    }

    // The fields a tty holds come from it; the others are those last set, as a Windows driver
    // keeps them.
    ErrorCode GetState(SerialState* state) override {
        termios t;
        if (tcgetattr(fd_, &t) != 0) {
            return errno == ENOTTY ? kInvalidFunction : FromErrno(errno);
        }
        const uint32_t length = state->DCBlength;
        *state = shadow_;
        state->DCBlength = length;
        const speed_t speed = cfgetospeed(&t);
        for (const Speed& s : kSpeeds) {
            if (s.code == speed) {
                state->BaudRate = s.baud;
            }
        }
        switch (t.c_cflag & CSIZE) {
            case CS5:
                state->ByteSize = 5;
                break;
            case CS6:
                state->ByteSize = 6;
                break;
            case CS7:
                state->ByteSize = 7;
                break;
            default:
                state->ByteSize = 8;
                break;
        }
        state->Parity = (t.c_cflag & PARENB) == 0   ? serial::kNoParity
                        : (t.c_cflag & PARODD) != 0 ? serial::kOddParity
                                                    : serial::kEvenParity;
        state->StopBits = (t.c_cflag & CSTOPB) != 0 ? serial::kTwoStopBits : serial::kOneStopBit;
        state->fParity = (t.c_iflag & INPCK) != 0;
        state->fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
        state->fOutX = (t.c_iflag & IXON) != 0;
        state->fInX = (t.c_iflag & IXOFF) != 0;
        state->XonChar = static_cast<char>(t.c_cc[VSTART]);
        state->XoffChar = static_cast<char>(t.c_cc[VSTOP]);
        return 0;
    }

    ErrorCode SetState(const SerialState& state) override {
        termios t;
        if (tcgetattr(fd_, &t) != 0) {
            return errno == ENOTTY ? kInvalidFunction : FromErrno(errno);
        }
        const Speed* speed = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                          [&](const Speed& s) { return s.baud == state.BaudRate; });
        if (speed == std::end(kSpeeds) || state.ByteSize < 5 || state.ByteSize > 8 ||
            state.Parity > serial::kEvenParity || state.StopBits > serial::kTwoStopBits) {
            return error::kInvalidParameter;
        }
        MakeRaw(t);
        const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
        t.c_cflag |= sizes[state.ByteSize - 5];
        if (state.Parity != serial::kNoParity) {
            t.c_cflag |= PARENB;
        }
        if (state.Parity == serial::kOddParity) {
            t.c_cflag |= PARODD;
        }
        if (state.StopBits != serial::kOneStopBit) {
            t.c_cflag |= CSTOPB;
        }
        if (state.fOutxCtsFlow != 0 || state.fRtsControl == 2) {  // RTS_CONTROL_HANDSHAKE
            t.c_cflag |= CRTSCTS;
        }
        t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF);
        t.c_iflag |= (state.fParity != 0 ? INPCK : 0) | (state.fOutX != 0 ? IXON : 0) |
                     (state.fInX != 0 ? IXOFF : 0);
        t.c_cc[VSTART] = static_cast<cc_t>(state.XonChar);
        t.c_cc[VSTOP] = static_cast<cc_t>(state.XoffChar);
        cfsetispeed(&t, speed->code);
        cfsetospeed(&t, speed->code);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) {
            return FromErrno(errno);
        }
        shadow_ = state;
        return 0;
    }

    ErrorCode SetTimeouts(const SerialTimeouts& timeouts) override {
        timeouts_ = timeouts;
        return 0;
    }

    ErrorCode Purge(uint32_t flags) override {
        if ((flags & (serial::kPurgeTxAbort | serial::kPurgeRxAbort)) != 0 && Pending()) {
            End(error::kOperationAborted);
        }
        const bool tx = (flags & serial::kPurgeTxClear) != 0;
        const bool rx = (flags & serial::kPurgeRxClear) != 0;
        if ((tx || rx) && tcflush(fd_, tx && rx ? TCIOFLUSH : tx ? TCOFLUSH : TCIFLUSH) != 0) {
            return FromErrno(errno);
        }
        return 0;
    }

    IoStartResult StartWrite(const uint8_t* bytes, uint32_t count) override {
        Begin(Op::kWrite, bytes, nullptr, count);
        deadline_ = TotalDeadline(started_, timeouts_.WriteTotalTimeoutMultiplier, count,
                                  timeouts_.WriteTotalTimeoutConstant);
        Progress();
        return Started();
    }

    IoStartResult StartRead(uint8_t* buffer, uint32_t count) override {
        Begin(Op::kRead, nullptr, buffer, count);
        deadline_ = TotalDeadline(started_, timeouts_.ReadTotalTimeoutMultiplier, count,
                                  timeouts_.ReadTotalTimeoutConstant);
        Progress();
        if (Pending() && timeouts_.ReadIntervalTimeout == kMaxDword && deadline_ == kNever) {
            End(0);  // "return at once with what has arrived"
        }
        return Started();
    }

    IoWaitResult Wait(Event* cancelEvent, uint32_t timeoutMs) override {
        const int cancelFd = cancelEvent != nullptr ? EventFd(cancelEvent) : -1;
        const Nanos deadline =
            timeoutMs == kMaxDword ? kNever : Now() + Nanos{timeoutMs} * kMillisecond;
        for (;;) {
            Progress();
            if (!Pending()) {
                return {IoWait::kIoDone, 0};
            }
            pollfd fds[2] = {LineReady(), {cancelFd, POLLIN, 0}};
            if (!PollUntil(fds, cancelFd >= 0 ? 2 : 1, std::min(deadline, OpDeadline()))) {
                return {IoWait::kFailed, FromErrno(errno)};
            }
            // A completion is reported before a cancel that came at the same time.
            Progress();
            if (!Pending()) {
                return {IoWait::kIoDone, 0};
            }
            if (cancelFd >= 0 && (fds[1].revents & POLLIN) != 0 && TryConsume(cancelEvent)) {
                return {IoWait::kCancelled, 0};
            }
            if (Now() >= deadline) {
                return {IoWait::kTimeout, 0};
            }
        }
    }

    ErrorCode GetResult(bool wait, uint32_t* count) override {
        if (Pending() && wait) {
            for (;;) {
                Progress();
                if (!Pending()) {
                    break;
                }
                pollfd fds[1] = {LineReady()};
                if (!PollUntil(fds, 1, OpDeadline())) {
                    End(FromErrno(errno));
                }
            }
        }
        *count = done_;
        if (Pending()) {
            return serial_error::kIoIncomplete;
        }
        return result_;
    }

    ErrorCode CancelIo() override {
        if (Pending()) {
            End(error::kOperationAborted);
        }
        return 0;
    }

  private:
    enum class Op { kNone, kWrite, kRead };

    bool Pending() const { return op_ != Op::kNone && !ended_; }

    void Begin(Op op, const uint8_t* source, uint8_t* target, uint32_t count) {
        op_ = op;
        ended_ = false;
        source_ = source;
        target_ = target;
        requested_ = count;
        done_ = 0;
        result_ = 0;
        started_ = Now();
        lastByte_ = started_;
    }

    void End(ErrorCode result) {
        if (writing_) {
            uint32_t written = 0;
            int error = 0;
            writer_.Abort(&written, &error);
            writing_ = false;
            done_ += written;
        }
        ended_ = true;
        result_ = result;
    }

    IoStartResult Started() {
        if (Pending()) {
            return {IoStart::kPending, 0, 0};
        }
        if (result_ != 0) {
            return {IoStart::kFailed, 0, result_};
        }
        return {IoStart::kDone, done_, 0};
    }

    // When the operation ends by its own time-outs if nothing else ends it first.
    Nanos OpDeadline() const {
        Nanos deadline = deadline_;
        const uint32_t interval = timeouts_.ReadIntervalTimeout;
        if (op_ == Op::kRead && done_ > 0 && interval != 0 && interval != kMaxDword) {
            deadline = std::min(deadline, lastByte_ + Nanos{interval} * kMillisecond);
        }
        return deadline;
    }

    // What the waits poll: the line, or the end of the write handed to the line writer.
    pollfd LineReady() const {
        if (writing_) {
            return {writer_.DoneFd(), POLLIN, 0};
        }
        return {fd_, static_cast<short>(op_ == Op::kWrite ? POLLOUT : POLLIN), 0};
    }

    // Moves what the tty takes or has without blocking, hands the rest of a write to the line
    // writer, and ends the operation when it is complete, has failed, or has run into its
    // time-outs.
    void Progress() {
        if (!Pending()) {
            return;
        }
        if (writing_) {
            uint32_t written = 0;
            int error = 0;
            if (!writer_.TryFinish(&written, &error)) {
                if (Now() >= OpDeadline()) {
                    End(0);  // the write's own time-out: it ends with what it has moved
                }
                return;
            }
            writing_ = false;
            done_ += written;
            if (error != 0) {
                End(error == EIO ? serial_error::kNotReady : FromErrno(error));
                return;
            }
        }
        while (done_ < requested_) {
            const ssize_t n = op_ == Op::kWrite ? write(fd_, source_ + done_, requested_ - done_)
                                                : read(fd_, target_ + done_, requested_ - done_);
            if (n > 0) {
                done_ += static_cast<uint32_t>(n);
                lastByte_ = Now();
                continue;
            }
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n == 0 && op_ == Op::kRead && HungUp()) {
                End(error::kBrokenPipe);  // the other side of the line is gone
                return;
            }
            if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                break;  // nothing more now
            }
            // EIO: the other side of the line is gone.
            if (errno == EIO) {
                End(op_ == Op::kWrite ? serial_error::kNotReady : error::kBrokenPipe);
            } else {
                End(FromErrno(errno));
            }
            return;
        }
        if (done_ == requested_ || Now() >= OpDeadline()) {
            End(0);
        } else if (op_ == Op::kWrite && WriterReady() &&
                   writer_.Begin(source_ + done_, requested_ - done_)) {
            writing_ = true;
        }
    }

    bool WriterReady() {
        if (!writerTried_) {
            writerTried_ = true;
            writerReady_ = writer_.Start(fd_);
        }
        return writerReady_;
    }

    // A tty whose other side has closed reads as end of file and polls as hung up.
    bool HungUp() const {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR)) != 0;
    }

    // Polls until something is ready or the deadline; false with errno when poll fails.
    static bool PollUntil(pollfd* fds, nfds_t count, Nanos deadline) {
        for (;;) {
            timespec ts{};
            timespec* limit = nullptr;
            if (deadline != kNever) {
                const Nanos left = std::max<Nanos>(0, deadline - Now());
                ts.tv_sec = static_cast<time_t>(left / 1000000000);
                ts.tv_nsec = static_cast<long>(left % 1000000000);
                limit = &ts;
            }
            if (ppoll(fds, count, limit, nullptr) >= 0) {
                return true;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    int fd_;
    LineWriter writer_;
    bool writerTried_ = false;
    bool writerReady_ = false;
    bool writing_ = false;  // the rest of the write is with writer_
    SerialState shadow_{};
    SerialTimeouts timeouts_{};
    Op op_ = Op::kNone;
    bool ended_ = false;
    const uint8_t* source_ = nullptr;
    uint8_t* target_ = nullptr;
    uint32_t requested_ = 0;
    uint32_t done_ = 0;
    ErrorCode result_ = 0;
    Nanos started_ = 0;
    Nanos lastByte_ = 0;
    Nanos deadline_ = kNever;
};

}  // namespace

std::string SerialDevicePath(const std::wstring& devicePath) {
    static const std::wstring kPrefix = L"\\\\.\\";
    std::wstring rest = devicePath;
    std::string root;
    if (rest.compare(0, kPrefix.size(), kPrefix) == 0) {
        rest.erase(0, kPrefix.size());
        const char* dosdevices = std::getenv("DOVRAND_DOSDEVICES");
        root =
            dosdevices != nullptr && *dosdevices != '\0' ? dosdevices : "/tmp/dovrand/dosdevices";
        root += '/';
        for (wchar_t& c : rest) {
            if (c == L'\\') {
                break;
            }
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c - L'A' + L'a');  // as Wine names dosdevices entries
            }
        }
    }
    std::replace(rest.begin(), rest.end(), L'\\', L'/');
    return root + ToUtf8(rest);
}

std::unique_ptr<SerialDevice> PosixSerialPorts::Open(const std::wstring& devicePath,
                                                     Event* /*ioEvent: waits poll the tty*/,
                                                     ErrorCode* error) {
    const std::string path = SerialDevicePath(devicePath);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno == ENOENT ? error::kFileNotFound : FromErrno(errno);
        return nullptr;
    }
    termios t;
    if (tcgetattr(fd, &t) == 0) {
        MakeRaw(t);
        tcsetattr(fd, TCSANOW, &t);
    }
    std::unique_ptr<SerialDevice> device(new (std::nothrow) PosixSerialDevice(fd));
    if (!device) {
        close(fd);
        *error = error::kNotEnoughMemory;
    }
    return device;
}

}  // namespace platform::posix
