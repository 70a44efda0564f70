// The system's three names, answered alike by the service and by the console controller so that
// both always agree.
#pragma once

namespace names {

// The banner's heading.
inline constexpr const wchar_t* kTitle = L"Dovrand";
// The service manager's name, the control handler's, the event-log source and the log file's base.
inline constexpr const wchar_t* kServiceName = L"Dovrand";
// The service manager's display name and the subject of the console messages.
inline constexpr const wchar_t* kDisplayName = L"Dovrand Service";

}  // namespace names
