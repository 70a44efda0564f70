#include "fakes/event_log_fake.h"

namespace platform::fake {

class FakeEventSource : public EventSource {
  public:
    FakeEventSource(FakeEventLog& log, std::wstring name) : log_(log), name_(std::move(name)) {}

    ~FakeEventSource() override {
        log_.script_.Check("DeregisterEventSource");
        std::lock_guard<std::mutex> lock(log_.mutex_);
        --log_.open_sources_;
    }

    ErrorCode Report(uint16_t type, uint32_t eventId, const wchar_t* text) override {
        if (ErrorCode code = log_.script_.Check("ReportEventW"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(log_.mutex_);
        log_.events_.push_back(RecordedEvent{name_, type, eventId, text});
        return 0;
    }

  private:
    FakeEventLog& log_;
    std::wstring name_;
};

std::unique_ptr<EventSource> FakeEventLog::RegisterSource(const wchar_t* name, ErrorCode* error) {
    if (ErrorCode code = script_.Check("RegisterEventSourceW"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_sources_;
    return std::make_unique<FakeEventSource>(*this, name);
}

std::vector<RecordedEvent> FakeEventLog::events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

int FakeEventLog::open_sources() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_sources_;
}

}  // namespace platform::fake
