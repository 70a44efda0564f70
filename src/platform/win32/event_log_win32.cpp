#include "platform/win32/event_log_win32.h"

#include "platform/win32/windows_api.h"

namespace platform::win32 {

namespace {

class Win32EventSource : public EventSource {
  public:
    explicit Win32EventSource(HANDLE handle) : handle_(handle) {}
    ~Win32EventSource() override { DeregisterEventSource(handle_); }

    ErrorCode Report(uint16_t type, uint32_t eventId, const wchar_t* text) override {
        const wchar_t* strings[] = {text};
        if (!ReportEventW(handle_, type, 0, eventId, nullptr, 1, 0, strings, nullptr)) {
            return GetLastError();
        }
        return 0;
    }

  private:
    HANDLE handle_;
};

}  // namespace

std::unique_ptr<EventSource> Win32EventLog::RegisterSource(const wchar_t* name, ErrorCode* error) {
    HANDLE handle = RegisterEventSourceW(nullptr, name);
    if (handle == nullptr) {
        *error = GetLastError();
        return nullptr;
    }
    return std::make_unique<Win32EventSource>(handle);
}

}  // namespace platform::win32
