// A device broadcast record of any size and content, its own size field included: the record
// handed over holds exactly as many bytes as its size field says (a size beyond the input is
// filled up with zeros), so anything read beyond the record is caught.
#include <algorithm>
#include <cstring>
#include <cwchar>

#include "discovery/device_broadcast.h"
#include "fuzz_rig.h"

namespace {

constexpr size_t kMaxRecord = 1 << 16;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DeviceMatch match;
    if (size < 4) {
        FUZZ_CHECK(!IsGobiArrival(nullptr, match));
        return 0;
    }
    const size_t declared =
        static_cast<size_t>(data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24);
    const size_t recordSize = std::max<size_t>(4, std::min(declared, kMaxRecord));
    std::unique_ptr<uint8_t[]> record(new uint8_t[recordSize]());
    std::memcpy(record.get(), data, std::min(size, recordSize));
    if (declared != recordSize) {
        // The record states its real size.
        for (size_t i = 0; i < 4; ++i) {
            record[i] = static_cast<uint8_t>(recordSize >> (8 * i));
        }
    }
    const bool arrival = IsGobiArrival(record.get(), match);
    FUZZ_CHECK(wcsnlen(match.InterfacePath, kInterfacePathChars) < kInterfacePathChars);
    FUZZ_CHECK(!arrival || match.Reference < 0);
    return 0;
}
