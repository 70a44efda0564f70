#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "discovery/catalogue.h"
#include "discovery/device_broadcast.h"
#include "discovery/device_match.h"

namespace {

const std::wstring kClass = L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

// A record that an earlier match left behind, to see that a failed match leaves it alone.
DeviceMatch Remembered() {
    DeviceMatch match;
    match.Reference = 7;
    std::wcscpy(match.InterfacePath, L"earlier");
    return match;
}

void ExpectUntouched(const DeviceMatch& match) {
    EXPECT_EQ(match.Reference, 7);
    EXPECT_STREQ(match.InterfacePath, L"earlier");
}

TEST(MatchInterfacePathTest, MatchesTheCatalogue) {
    struct Case {
        std::wstring path;
        int32_t reference;
        bool modem;
    };
    const Case cases[] = {
        {L"\\\\?\\USB#VID_05C6&PID_9204#6&1A2B3C4D&0&2" + kClass, -16, false},
        {L"\\\\?\\usb#vid_05c6&pid_9204#6&1a2b3c4d&0&2" + kClass, -16, false},
        {L"\\\\?\\usb#vid_05c6&pid_9205#6&1a2b3c4d&0&2" + kClass, 16, true},
        {L"\\\\?\\usb#vid_03f0&pid_201d#5&1&0&1" + kClass, -1, false},
        {L"\\\\?\\usb#vid_05c6&pid_9008#1" + kClass, -3, false},
        {L"\\\\?\\usb#vid_05c6&pid_9001#1" + kClass, 4, true},
        {L"\\\\?\\usb#vid_05c6&pid_9201#1" + kClass, -6, false},
        {L"\\\\?\\usb#vid_1199&pid_9000#1" + kClass, -20, false},
        {L"\\\\?\\usb#vid_1199&pid_9001#1" + kClass, 21, true},
        {L"\\\\?\\Usb#VID_1199&PID_900A#1" + kClass, 30, true},
        {L"\\\\?\\usb#vid_05c6&pid_9275#1" + kClass, 35, true},
        // Only the 17 characters count: a composite device's interface matches too.
        {L"\\\\?\\usb#vid_05c6&pid_9204&mi_00#7&2&0&0000" + kClass, -16, false},
        {L"\\\\?\\usb#vid_05c6&pid_9204", -16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DeviceMatch match = Remembered();
        bool modem = !c.modem;
        ASSERT_TRUE(MatchInterfacePath(c.path.c_str(), match, &modem));
        EXPECT_EQ(match.Reference, c.reference);
        EXPECT_EQ(modem, c.modem);
        EXPECT_EQ(std::wstring(match.InterfacePath), c.path.substr(8));
    }
}

TEST(MatchInterfacePathTest, LeavesTheRecordAloneWithoutAMatch) {
    const std::wstring cases[] = {
        L"",
        L"\\\\?\\acpi#pnp0501#1#{86e0d1e0-8089-11d0-9ce4-08003e301f73}",
        L"\\\\?\\FTDIBUS#VID_0403+PID_6001+A1#0000" + kClass,
        L"\\\\.\\usb#vid_05c6&pid_9204#1" + kClass,
        L"\\\\?\\usb#vid_1234&pid_5678#1" + kClass,
        L"\\\\?\\usb#vid_05c6&pid_920",  // shorter than an identifier
        L"\\\\?\\usb#",                  // nothing behind the prefix: an empty identifier
        L"\\\\?\\usb",                   // shorter than the prefix
        L"usb#vid_05c6&pid_9204#1" + kClass,
    };
    for (const std::wstring& path : cases) {
        SCOPED_TRACE(path);
        DeviceMatch match = Remembered();
        bool modem = true;
        EXPECT_FALSE(MatchInterfacePath(path.c_str(), match, &modem));
        ExpectUntouched(match);
        EXPECT_TRUE(modem);
    }
    DeviceMatch match = Remembered();
    EXPECT_FALSE(MatchInterfacePath(nullptr, match));
    ExpectUntouched(match);
}

TEST(MatchInterfacePathTest, StoresAPathOnlyWhenItFitsTheRecord) {
    const std::wstring prefix = L"\\\\?\\usb#vid_05c6&pid_9204#";
    // The rest is the identifier, # and the instance: 18 characters and the instance.
    const std::wstring fits = prefix + std::wstring(kInterfacePathChars - 1 - 18, L'i');
    const std::wstring tooLong = fits + L"i";

    auto match = std::make_unique<DeviceMatch>(Remembered());
    ASSERT_TRUE(MatchInterfacePath(fits.c_str(), *match));
    EXPECT_EQ(std::wstring(match->InterfacePath), fits.substr(8));
    EXPECT_EQ(std::wstring(match->InterfacePath).size(), kInterfacePathChars - 1);

    match = std::make_unique<DeviceMatch>(Remembered());
    EXPECT_FALSE(MatchInterfacePath(tooLong.c_str(), *match));
    ExpectUntouched(*match);
}

// A device broadcast record of exactly `size` bytes (dbch_size), with a device type and, from
// byte 28, the UTF-16LE units of a name (cut at the record's end), on the heap so that a read
// past its end is caught.
struct Broadcast {
    std::unique_ptr<uint8_t[]> bytes;
    const void* data() const { return bytes.get(); }
};

Broadcast MakeBroadcast(uint32_t type, const std::u16string& name, uint32_t size) {
    Broadcast record{std::make_unique<uint8_t[]>(size)};
    uint8_t* b = record.bytes.get();
    std::memset(b, 0xAB, size);
    const uint32_t header[3] = {size, type, 0};
    for (size_t field = 0; field < 3; ++field) {
        for (size_t i = 0; i < 4 && field * 4 + i < size; ++i) {
            b[field * 4 + i] = static_cast<uint8_t>(header[field] >> (8 * i));
        }
    }
    for (size_t i = 0; i < name.size() && 28 + 2 * i + 1 < size; ++i) {
        b[28 + 2 * i] = static_cast<uint8_t>(name[i] & 0xFF);
        b[28 + 2 * i + 1] = static_cast<uint8_t>(name[i] >> 8);
    }
    return record;
}

// The whole name with its terminator.
uint32_t FullSize(const std::u16string& name) {
    return static_cast<uint32_t>(28 + 2 * (name.size() + 1));
}

const std::u16string kDownloadName =
    u"\\\\?\\USB#VID_05C6&PID_9204#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::u16string kModemName =
    u"\\\\?\\usb#vid_05c6&pid_9205#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

TEST(IsGobiArrivalTest, WakesOnlyForADownloadModeCard) {
    DeviceMatch match;
    std::u16string name = kDownloadName;
    name.push_back(u'\0');
    Broadcast record = MakeBroadcast(5, name, FullSize(kDownloadName));
    EXPECT_TRUE(IsGobiArrival(record.data(), match));
    EXPECT_EQ(match.Reference, -16);
    EXPECT_STREQ(match.InterfacePath,
                 L"VID_05C6&PID_9204#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");

    // The modem identity is written to the record but wakes nothing.
    name = kModemName;
    name.push_back(u'\0');
    record = MakeBroadcast(5, name, FullSize(kModemName));
    EXPECT_FALSE(IsGobiArrival(record.data(), match));
    EXPECT_EQ(match.Reference, 16);
    EXPECT_STREQ(match.InterfacePath,
                 L"vid_05c6&pid_9205#6&1a2b3c4d&0&2#{86e0d1e0-8089-11d0-9ce4-08003e301f73}");
}

TEST(IsGobiArrivalTest, ReadsTheNameOnlyWithinTheRecord) {
    std::u16string terminated = kDownloadName;
    terminated.push_back(u'\0');
    const uint32_t full = FullSize(kDownloadName);
    struct Case {
        const char* what;
        uint32_t type;
        std::u16string name;
        uint32_t size;
        bool arrival;
    };
    const Case cases[] = {
        {"room behind the terminator", 5, terminated + u"junk", full + 40, true},
        {"an odd byte behind the terminator", 5, terminated, full + 1, true},
        {"not a device interface (a port)", 3, terminated, full, false},
        {"a volume", 2, terminated, full, false},
        {"terminator cut off by the size", 5, terminated, full - 2, false},
        {"half the name inside the record", 5, terminated, 28 + 2 * 20, false},
        {"no terminator up to an odd end", 5, kDownloadName, full - 1, false},
        {"31 bytes", 5, u"\\\\", 31, false},
        {"the bare header", 5, u"", 12, false},
        {"only the size", 5, u"", 4, false},
        {"32 bytes, empty name", 5, std::u16string(1, u'\0'), 32, false},
        {"foreign bus", 5, u"\\\\?\\acpi#pnp0501#1#{x}" + std::u16string(1, u'\0'), 80, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceMatch match = Remembered();
        const Broadcast record = MakeBroadcast(c.type, c.name, c.size);
        EXPECT_EQ(IsGobiArrival(record.data(), match), c.arrival);
        if (c.arrival) {
            EXPECT_EQ(match.Reference, -16);
        } else {
            ExpectUntouched(match);
        }
    }
    DeviceMatch match = Remembered();
    EXPECT_FALSE(IsGobiArrival(nullptr, match));
    ExpectUntouched(match);
}

TEST(IsGobiArrivalTest, ANameTooLongForTheRecordDoesNotMatch) {
    std::u16string name = u"\\\\?\\usb#vid_05c6&pid_9204#" + std::u16string(600, u'i');
    name.push_back(u'\0');
    DeviceMatch match = Remembered();
    const Broadcast record = MakeBroadcast(5, name, FullSize(name));
    EXPECT_FALSE(IsGobiArrival(record.data(), match));
    ExpectUntouched(match);
}

TEST(GetDeviceInfoTest, ReadsTheEntryOfAReference) {
    struct Case {
        int32_t reference;
        bool loaded;
        int32_t generation;
        const wchar_t* name;
        const wchar_t* vendor;
    };
    const Case cases[] = {
        {-1, false, 1, L"HP un2400 Mobile Broadband", L"HP"},
        {1, true, 1, L"HP un2400 Mobile Broadband", L"HP"},
        {-13, false, 1, L"ONDA Communication: Gobi Wireless Modem", L"ONDA Communication"},
        {-16, false, 2, L"Lenovo: Qualcomm Gobi 2000 HS-USB", L"Lenovo"},
        {21, true, 2, L"Sierra Wireless Gobi 2000 USB (9001)", L"Sierra"},
        {35, true, 2, L"iRex Technologies Gobi 2000 Wireless Modem", L"iRexTech"},
        {-35, false, 2, L"iRex Technologies Gobi 2000 Wireless Modem", L"iRexTech"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reference);
        bool loaded = !c.loaded;
        int32_t generation = 0;
        std::wstring name, vendor;
        ASSERT_TRUE(GetDeviceInfo(c.reference, &loaded, &generation, &name, &vendor));
        EXPECT_EQ(loaded, c.loaded);
        EXPECT_EQ(generation, c.generation);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(vendor, c.vendor);
    }
}

TEST(GetDeviceInfoTest, RefusesNoCardAndReferencesOutsideTheCatalogue) {
    for (int32_t reference : {0, 36, -36, 1000, INT32_MAX, INT32_MIN, INT32_MIN + 1}) {
        SCOPED_TRACE(reference);
        bool loaded = false;
        int32_t generation = 0;
        std::wstring name = L"n", vendor = L"v";
        EXPECT_FALSE(GetDeviceInfo(reference, &loaded, &generation, &name, &vendor));
        EXPECT_EQ(generation, 0);
        EXPECT_EQ(name, L"n");
        EXPECT_EQ(vendor, L"v");
    }
}

}  // namespace
