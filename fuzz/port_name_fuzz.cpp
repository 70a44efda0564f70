// The PortName registry value of any length and content (the value's type is not looked at),
// under the key of an interface path that is partly taken from the input.
//
// Input: the length in bytes of the interface path's instance part (1 byte), that part as
// UTF-16LE, then the value's bytes.
#include <cwchar>
#include <string>
#include <vector>

#include "discovery/device_match.h"
#include "discovery/port_name.h"
#include "fakes/registry_fake.h"
#include "fuzz_rig.h"
#include "platform/platform.h"

namespace {

constexpr const wchar_t* kKeyBase = L"SYSTEM\\CurrentControlSet\\Enum\\USB\\vid_05c6&pid_9204\\";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    size_t instanceBytes = 0;
    std::unique_ptr<uint8_t[]> raw = input.Take(input.Byte(), &instanceBytes);
    std::wstring instance;
    for (size_t i = 0; i + 1 < instanceBytes; i += 2) {
        instance += static_cast<wchar_t>(raw[i] | raw[i + 1] << 8);
    }
    size_t valueSize = 0;
    std::unique_ptr<uint8_t[]> value = input.Take(input.remaining(), &valueSize);

    DeviceMatch match;
    if (!MatchInterfacePath((L"\\\\?\\USB#VID_05C6&PID_9204#" + instance).c_str(), match)) {
        return 0;
    }
    platform::fake::FakeRegistry registry;
    const std::wstring leaf = instance.substr(0, instance.find(L'#'));
    registry.SetValue(kKeyBase + leaf + L"\\Device Parameters", L"PortName",
                      std::vector<uint8_t>(value.get(), value.get() + valueSize));
    platform::Platform p = platform::Get();
    p.registry = &registry;
    platform::ScopedPlatform use(p);

    std::wstring port;
    if (GetQdlPortName(match, &port)) {
        FUZZ_CHECK(!port.empty() && port.size() < kPortNameChars);
        FUZZ_CHECK(port.find(L'\0') == std::wstring::npos);
    }
    FUZZ_CHECK(registry.OpenKeys() == 0);
    return 0;
}
