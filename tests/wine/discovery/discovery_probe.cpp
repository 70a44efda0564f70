// Finds a catalogue card among the present COM-port interfaces and its port name, through the
// build's own SetupAPI and registry adapters, and prints what it found:
//   device <reference> <interface path behind \\?\usb#>
//   port <port name>
// or "no device" / "no port". Exit code 0 when both were found, 1 otherwise.
#include <cstdio>
#include <string>

#include "discovery/device_match.h"
#include "discovery/device_search.h"
#include "discovery/port_name.h"

namespace {

// The text as ASCII bytes; anything else becomes '?'.
std::string Ascii(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

void PrintLine(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int wmain() {
    DeviceMatch match;
    if (!FindGobiDevice(match)) {
        PrintLine("no device");
        return 1;
    }
    PrintLine("device " + std::to_string(match.Reference) + " " +
              Ascii(std::wstring(match.InterfacePath)));
    std::wstring port;
    if (!GetQdlPortName(match, &port)) {
        PrintLine("no port");
        return 1;
    }
    PrintLine("port " + Ascii(port));
    return 0;
}
