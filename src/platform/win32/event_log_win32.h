// The Application event log over the Win32 calls.
#pragma once

#include "platform/event_log.h"

namespace platform::win32 {

class Win32EventLog : public EventLog {
  public:
    std::unique_ptr<EventSource> RegisterSource(const wchar_t* name, ErrorCode* error) override;
};

}  // namespace platform::win32
