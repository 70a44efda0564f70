#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "discovery/device_match.h"
#include "discovery/device_search.h"
#include "discovery/port_name.h"
#include "fakes/devices_fake.h"
#include "fakes/registry_fake.h"
#include "platform/platform.h"

namespace {

using platform::fake::FakeInterface;

const std::wstring kClass = L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
const std::wstring kLenovoDownload = L"\\\\?\\usb#vid_05c6&pid_9204#6&1a2b3c4d&0&2" + kClass;
const std::wstring kLenovoModem = L"\\\\?\\usb#vid_05c6&pid_9205#6&1a2b3c4d&0&3" + kClass;
const std::wstring kKey =
    L"SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_05c6&pid_9204\\6&1a2b3c4d&0&2\\Device Parameters";

class PortDiscoveryTest : public testing::Test {
  protected:
    PortDiscoveryTest() {
        platform::Platform p = platform::Get();
        p.devices = &devices_;
        p.registry = &registry_;
        use_ = std::make_unique<platform::ScopedPlatform>(p);
    }

    // A download-mode match of the given interface path (without its \\?\usb# prefix).
    static std::unique_ptr<DeviceMatch> Match(const std::wstring& rest, int32_t reference = -16) {
        auto match = std::make_unique<DeviceMatch>();
        match->Reference = reference;
        std::wcsncpy(match->InterfacePath, rest.c_str(), kInterfacePathChars - 1);
        return match;
    }

    platform::fake::FakeDeviceInterfaces devices_;
    platform::fake::FakeRegistry registry_;
    std::unique_ptr<platform::ScopedPlatform> use_;
};

TEST_F(PortDiscoveryTest, FindsTheFirstActiveCatalogueCardInEitherMode) {
    devices_.Add(L"\\\\?\\acpi#pnp0501#1" + kClass);
    devices_.Add(FakeInterface{L"\\\\?\\usb#vid_05c6&pid_9008#1" + kClass, 0});  // not active
    devices_.Add(FakeInterface{L"\\\\?\\usb#vid_1199&pid_9000#1" + kClass,
                               platform::kInterfaceActive, 13});  // no detail
    devices_.Add(kLenovoModem);
    devices_.Add(kLenovoDownload);

    DeviceMatch match;
    EXPECT_TRUE(FindGobiDevice(match));
    EXPECT_EQ(match.Reference, 16);
    EXPECT_EQ(std::wstring(match.InterfacePath), kLenovoModem.substr(8));
    EXPECT_EQ(devices_.script().Calls("SetupDiEnumDeviceInterfaces"), 4);
    EXPECT_EQ(devices_.script().Calls("SetupDiGetDeviceInterfaceDetailW"), 3);
    EXPECT_EQ(devices_.script().Calls("SetupDiDestroyDeviceInfoList"), 1);
    EXPECT_EQ(devices_.OpenSets(), 0);
}

TEST_F(PortDiscoveryTest, FindsACardInDownloadMode) {
    devices_.Add(kLenovoDownload);
    DeviceMatch match;
    EXPECT_TRUE(FindGobiDevice(match));
    EXPECT_EQ(match.Reference, -16);
    EXPECT_EQ(std::wstring(match.InterfacePath), kLenovoDownload.substr(8));
}

TEST_F(PortDiscoveryTest, FindsNothingWithoutACatalogueCard) {
    devices_.Add(L"\\\\?\\acpi#pnp0501#1" + kClass);
    devices_.Add(L"\\\\?\\usb#vid_1234&pid_5678#1" + kClass);
    DeviceMatch match;
    EXPECT_FALSE(FindGobiDevice(match));
    EXPECT_EQ(match.Reference, 0);
    EXPECT_EQ(devices_.script().Calls("SetupDiEnumDeviceInterfaces"), 3);
    EXPECT_EQ(devices_.OpenSets(), 0);
}

TEST_F(PortDiscoveryTest, StopsWhenTheEnumerationFails) {
    devices_.Add(L"\\\\?\\acpi#pnp0501#1" + kClass);
    devices_.Add(kLenovoDownload);
    devices_.script().Fail("SetupDiEnumDeviceInterfaces", 8, 1, 1);
    DeviceMatch match;
    EXPECT_FALSE(FindGobiDevice(match));
    EXPECT_EQ(devices_.script().Calls("SetupDiEnumDeviceInterfaces"), 2);
    EXPECT_EQ(devices_.OpenSets(), 0);
}

TEST_F(PortDiscoveryTest, FindsNothingWhenTheSetCannotBeMade) {
    devices_.Add(kLenovoDownload);
    devices_.script().Fail("SetupDiGetClassDevsW", 5);
    DeviceMatch match;
    EXPECT_FALSE(FindGobiDevice(match));
    EXPECT_EQ(devices_.script().Calls("SetupDiEnumDeviceInterfaces"), 0);
    EXPECT_EQ(devices_.script().Calls("SetupDiDestroyDeviceInfoList"), 0);
}

TEST_F(PortDiscoveryTest, ReadsThePortNameOfADownloadModeCard) {
    registry_.SetString(kKey, L"PortName", L"COM7");
    std::wstring port;
    EXPECT_TRUE(GetQdlPortName(*Match(kLenovoDownload.substr(8)), &port));
    EXPECT_EQ(port, L"COM7");
    EXPECT_EQ(registry_.OpenedKeys(), std::vector<std::wstring>{kKey});
    EXPECT_EQ(registry_.script().Calls("RegCloseKey"), 1);
    EXPECT_EQ(registry_.OpenKeys(), 0);
}

TEST_F(PortDiscoveryTest, BuildsTheKeyFromIdentifierAndInstance) {
    struct Case {
        std::wstring rest;
        std::wstring key;
    };
    const std::wstring base = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\";
    const Case cases[] = {
        {L"VID_05C6&PID_9204#6&1A2B&0&2" + kClass,
         base + L"VID_05C6&PID_9204\\6&1A2B&0&2\\Device Parameters"},
        {L"vid_05c6&pid_9204#instance", base + L"vid_05c6&pid_9204\\instance\\Device Parameters"},
        {L"vid_05c6&pid_9204#", base + L"vid_05c6&pid_9204\\\\Device Parameters"},
        {L"vid_05c6&pid_9204##x", base + L"vid_05c6&pid_9204\\\\Device Parameters"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest);
        platform::fake::FakeRegistry registry;
        registry.SetString(c.key, L"PortName", L"COM3");
        platform::Platform p = platform::Get();
        p.registry = &registry;
        platform::ScopedPlatform use(p);
        std::wstring port;
        EXPECT_TRUE(GetQdlPortName(*Match(c.rest), &port));
        EXPECT_EQ(port, L"COM3");
        EXPECT_EQ(registry.OpenedKeys(), std::vector<std::wstring>{c.key});
    }
}

TEST_F(PortDiscoveryTest, NeedsADownloadModeReferenceAndAnIdentifierFollowedByHash) {
    registry_.SetString(kKey, L"PortName", L"COM7");
    struct Case {
        std::wstring rest;
        int32_t reference;
    };
    const Case cases[] = {
        {kLenovoDownload.substr(8), 16},
        {kLenovoDownload.substr(8), 0},
        {L"vid_05c6&pid_9204&mi_00#7&2&0&0000" + kClass, -16},
        {L"vid_05c6&pid_9204", -16},
        {L"", -16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest);
        std::wstring port = L"unchanged";
        EXPECT_FALSE(GetQdlPortName(*Match(c.rest, c.reference), &port));
        EXPECT_EQ(port, L"unchanged");
    }
    EXPECT_TRUE(registry_.OpenedKeys().empty());
}

TEST_F(PortDiscoveryTest, FailsWithoutAUsablePortNameValue) {
    struct Case {
        const char* what;
        std::vector<uint8_t> value;  // empty: no value
        bool hasValue;
    };
    const Case cases[] = {
        {"no value", {}, false},
        {"an empty string", {0, 0}, true},
        {"a value of no bytes", {}, true},
        {"520 bytes without a terminator", std::vector<uint8_t>(520, 'A'), true},
        {"more than 520 bytes", std::vector<uint8_t>(522, 0), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::fake::FakeRegistry registry;
        registry.AddKey(kKey);
        if (c.hasValue) {
            registry.SetValue(kKey, L"PortName", c.value);
        }
        platform::Platform p = platform::Get();
        p.registry = &registry;
        platform::ScopedPlatform use(p);
        std::wstring port = L"unchanged";
        EXPECT_FALSE(GetQdlPortName(*Match(kLenovoDownload.substr(8)), &port));
        EXPECT_EQ(port, L"unchanged");
        EXPECT_EQ(registry.script().Calls("RegQueryValueExW"), 1);
        EXPECT_EQ(registry.OpenKeys(), 0);
    }
}

TEST_F(PortDiscoveryTest, TakesThePortNameUpToItsTerminatorWithinTheBuffer) {
    struct Case {
        const char* what;
        std::vector<uint8_t> value;
        std::wstring port;
    };
    std::vector<uint8_t> longest;  // 259 characters and a terminator: 520 bytes
    for (int i = 0; i < 259; ++i) {
        longest.push_back('P');
        longest.push_back(0);
    }
    longest.push_back(0);
    longest.push_back(0);
    const Case cases[] = {
        {"no terminator, short", {'C', 0, 'O', 0, 'M', 0, '9', 0}, L"COM9"},
        {"text behind the terminator", {'C', 0, 'O', 0, 'M', 0, '1', 0, 0, 0, 'X', 0}, L"COM1"},
        {"an odd size", {'C', 0, 'O', 0, 'M', 0, '2', 0, 0}, L"COM2"},
        {"the longest", longest, std::wstring(259, L'P')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        platform::fake::FakeRegistry registry;
        registry.SetValue(kKey, L"PortName", c.value);
        platform::Platform p = platform::Get();
        p.registry = &registry;
        platform::ScopedPlatform use(p);
        std::wstring port;
        EXPECT_TRUE(GetQdlPortName(*Match(kLenovoDownload.substr(8)), &port));
        EXPECT_EQ(port, c.port);
    }
}

TEST_F(PortDiscoveryTest, FailsWhenTheKeyCannotBeOpenedOrRead) {
    registry_.SetString(kKey, L"PortName", L"COM7");
    std::wstring port;
    registry_.script().Fail("RegOpenKeyW", 5);
    EXPECT_FALSE(GetQdlPortName(*Match(kLenovoDownload.substr(8)), &port));
    EXPECT_EQ(registry_.script().Calls("RegQueryValueExW"), 0);

    registry_.script().Fail("RegQueryValueExW", 5);
    EXPECT_FALSE(GetQdlPortName(*Match(kLenovoDownload.substr(8)), &port));
    EXPECT_EQ(registry_.script().Calls("RegCloseKey"), 1);

    const auto otherInstance = Match(L"vid_05c6&pid_9204#6&1a2b3c4d&0&9" + kClass);
    EXPECT_FALSE(GetQdlPortName(*otherInstance, &port));
    EXPECT_TRUE(port.empty());
    EXPECT_EQ(registry_.OpenKeys(), 0);
}

TEST_F(PortDiscoveryTest, RefusesAKeyPathLongerThanItsBuffer) {
    // Prefix (34) + identifier and # (18) + instance + "\Device Parameters" (18) < 520.
    const size_t longestInstance = kKeyPathChars - 1 - 34 - 18 - 18;
    const std::wstring fits = L"vid_05c6&pid_9204#" + std::wstring(longestInstance, L'i');
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_05c6&pid_9204\\" +
                             std::wstring(longestInstance, L'i') + L"\\Device Parameters";
    ASSERT_EQ(key.size(), kKeyPathChars - 1);
    registry_.SetString(key, L"PortName", L"COM4");
    std::wstring port;
    EXPECT_TRUE(GetQdlPortName(*Match(fits), &port));
    EXPECT_EQ(port, L"COM4");

    EXPECT_FALSE(GetQdlPortName(*Match(fits + L"i"), &port));
    EXPECT_EQ(registry_.OpenedKeys().size(), 1u);
}

TEST_F(PortDiscoveryTest, ReadsAnUnterminatedRecordOnlyWithinItsPath) {
    // A record whose path fills all 520 characters (written by other code): the lookup stays
    // inside the record and refuses the overlong key.
    auto match = std::make_unique<DeviceMatch>();
    match->Reference = -16;
    std::wmemset(match->InterfacePath, L'x', kInterfacePathChars);
    std::wmemcpy(match->InterfacePath, L"vid_05c6&pid_9204#", 18);
    std::wstring port;
    EXPECT_FALSE(GetQdlPortName(*match, &port));
    EXPECT_TRUE(registry_.OpenedKeys().empty());
}

}  // namespace
