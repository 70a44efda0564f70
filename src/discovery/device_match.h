// The device reference and the device match record: which catalogue card was seen, in which
// mode, and under which device-interface path; matching a path against the catalogue, and
// reading the matched entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Characters of the match record's interface path, terminator included.
constexpr size_t kInterfacePathChars = 520;

// The device reference: 0 no card; -k the card of entry k (counted from 1) in download mode, it
// needs firmware; +k the card of entry k in modem mode, its firmware is already loaded.
constexpr int32_t kNoDevice = 0;
constexpr int32_t DownloadModeReference(int32_t position) {
    return ~(position - 1);
}
constexpr int32_t ModemModeReference(int32_t position) {
    return position;
}

struct DeviceMatch {
    int32_t Reference = kNoDevice;
    // The interface path behind its leading "\\?\usb#", e.g. vid_05c6&pid_9204#<instance>#{...};
    // always terminated within the array.
    wchar_t InterfacePath[kInterfacePathChars] = {};
};

// Matches a device-interface path (terminated) against the catalogue. The path must begin with
// "\\?\usb#" in any letter case; the 17 characters behind it are compared, ignoring case, with
// each entry's modem-mode identifier, then its download-mode identifier, entry 1 first; an empty
// identifier never matches. On a match the record gets the reference and the rest of the path,
// *modem (if given) tells the mode, and the result is true. A path whose rest does not fit the
// record (519 characters and the terminator) is no match. Otherwise the record stays untouched.
bool MatchInterfacePath(const wchar_t* path, DeviceMatch& match, bool* modem = nullptr);

// The catalogue entry of a reference: *loaded is true for a modem-mode reference. False for 0
// and for a reference outside -35..35.
bool GetDeviceInfo(int32_t reference, bool* loaded, int32_t* generation, std::wstring* name,
                   std::wstring* vendor);
