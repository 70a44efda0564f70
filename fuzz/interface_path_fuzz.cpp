// MatchInterfacePath and the catalogue lookup on any wide string, with a sentinel behind the
// match record's path to show that the copy into it stays within its 520 characters.
#include <cwchar>
#include <string>

#include "discovery/device_match.h"
#include "fuzz_rig.h"

namespace {

struct GuardedMatch {
    DeviceMatch match;
    wchar_t sentinel[8];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const bool withPrefix = (input.Byte() & 1) != 0;
    std::wstring text = input.WideChars(4096);
    if (withPrefix) {
        text.insert(0, L"\\\\?\\USB#");
    }
    // The path in a heap buffer of exactly its characters and terminator.
    std::unique_ptr<wchar_t[]> path(new wchar_t[text.size() + 1]);
    std::wmemcpy(path.get(), text.c_str(), text.size() + 1);

    GuardedMatch guarded;
    std::wmemset(guarded.sentinel, L'#', 8);
    bool modem = false;
    if (MatchInterfacePath(path.get(), guarded.match, &modem)) {
        FUZZ_CHECK(guarded.match.Reference != kNoDevice && (guarded.match.Reference > 0) == modem);
        bool loaded = false;
        int32_t generation = 0;
        std::wstring name;
        std::wstring vendor;
        FUZZ_CHECK(GetDeviceInfo(guarded.match.Reference, &loaded, &generation, &name, &vendor));
        FUZZ_CHECK(loaded == modem && (generation == 1 || generation == 2));
    } else {
        FUZZ_CHECK(guarded.match.Reference == kNoDevice && guarded.match.InterfacePath[0] == 0);
    }
    FUZZ_CHECK(wcsnlen(guarded.match.InterfacePath, kInterfacePathChars) < kInterfacePathChars);
    for (wchar_t c : guarded.sentinel) {
        FUZZ_CHECK(c == L'#');
    }

    // Any reference at all.
    const int32_t reference = static_cast<int32_t>(text.empty() ? 0 : text[0]);
    bool loaded = false;
    int32_t generation = 0;
    std::wstring name;
    std::wstring vendor;
    const bool known = GetDeviceInfo(reference, &loaded, &generation, &name, &vendor);
    FUZZ_CHECK(known == (reference != 0 && reference >= -35 && reference <= 35));
    return 0;
}
