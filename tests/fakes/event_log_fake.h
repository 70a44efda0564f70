// An event log that records every event it is given.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/event_log.h"

namespace platform::fake {

struct RecordedEvent {
    std::wstring source;
    uint16_t type;
    uint32_t id;
    std::wstring text;
};

// Calls that can be scripted to fail: "RegisterEventSourceW", "ReportEventW" (not recorded
// then); "DeregisterEventSource" is counted.
class FakeEventLog : public EventLog {
  public:
    std::unique_ptr<EventSource> RegisterSource(const wchar_t* name, ErrorCode* error) override;

    std::vector<RecordedEvent> events() const;
    int open_sources() const;  // registered and not yet deregistered
    FailureScript& script() { return script_; }

  private:
    friend class FakeEventSource;
    FailureScript script_;
    mutable std::mutex mutex_;
    std::vector<RecordedEvent> events_;
    int open_sources_ = 0;
};

}  // namespace platform::fake
