#include "fuzz_rig.h"

#include <algorithm>
#include <cstring>

#include "log/log.h"
#include "log/start_keys.h"
#include "platform/platform.h"

uint8_t FuzzInput::Byte() {
    return at_ < size_ ? data_[at_++] : 0;
}

uint16_t FuzzInput::U16() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
}

std::unique_ptr<uint8_t[]> FuzzInput::Take(size_t count, size_t* taken) {
    *taken = std::min(count, remaining());
    std::unique_ptr<uint8_t[]> bytes(new uint8_t[*taken]);
    std::memcpy(bytes.get(), data_ + at_, *taken);
    at_ += *taken;
    return bytes;
}

std::wstring FuzzInput::WideChars(size_t maxChars) {
    const size_t count = std::min(maxChars, remaining() / sizeof(wchar_t));
    std::wstring text(count, L'\0');
    std::memcpy(text.data(), data_ + at_, count * sizeof(wchar_t));
    at_ += count * sizeof(wchar_t);
    return text;
}

namespace {

class DiscardingFile : public platform::AppendFile {
  public:
    platform::ErrorCode Write(const void*, uint32_t size, uint32_t* written) override {
        *written = size;
        return 0;
    }
    platform::ErrorCode GetSize(uint64_t* size) override {
        *size = 0;
        return 0;
    }
    platform::ErrorCode FlushToDisk() override { return 0; }
    platform::ErrorCode GetInformation(uint32_t* attributes, uint32_t* links) override {
        *attributes = 0x80;  // FILE_ATTRIBUTE_NORMAL
        *links = 1;
        return 0;
    }
};

}  // namespace

std::unique_ptr<platform::AppendFile> DiscardingFileSystem::OpenForAppend(const std::wstring&,
                                                                          const wchar_t*,
                                                                          platform::ErrorCode*) {
    return std::make_unique<DiscardingFile>();
}

DiscardingFileSystem& FuzzFiles() {
    static DiscardingFileSystem files;
    static const bool opened = [] {
        platform::Platform p = platform::Native();
        p.files = &files;
        static platform::ScopedPlatform use(p);
        SetLogEnabled(true);
        return LogOpen(L"fuzz", L"C:\\logs") == kLogOk;
    }();
    FUZZ_CHECK(opened);
    return files;
}
