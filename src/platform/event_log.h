// The Windows Application event log (RegisterEventSourceW, ReportEventW, DeregisterEventSource).
#pragma once

#include <cstdint>
#include <memory>

#include "platform/types.h"

namespace platform {

// An event source registered on the local computer; deregistered when the object goes.
class EventSource {
  public:
    virtual ~EventSource() = default;
    // ReportEventW: the type, category 0, the event id, no user SID, one insertion string, no
    // raw data.
    virtual ErrorCode Report(uint16_t type, uint32_t eventId, const wchar_t* text) = 0;
};

class EventLog {
  public:
    virtual ~EventLog() = default;
    // RegisterEventSourceW on the local computer. Null with *error set on failure.
    virtual std::unique_ptr<EventSource> RegisterSource(const wchar_t* name, ErrorCode* error) = 0;
};

}  // namespace platform
