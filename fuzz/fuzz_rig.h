// What the fuzz targets share: the fuzzer's input taken piece by piece into heap buffers of
// exactly the size asked for (so that a read past the end of one is caught), and the log open
// on a file that drops its bytes (so that every log line is formatted and buffered, and a long
// run does not grow the memory).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fakes/files_fake.h"

// A check that must hold whatever the input: a breach ends the run as a finding.
#define FUZZ_CHECK(condition) \
    do {                      \
        if (!(condition)) {   \
            __builtin_trap(); \
        }                     \
    } while (false)

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - at_; }
    // The next byte, or 0 when the input is used up.
    uint8_t Byte();
    // The next two bytes, little-endian (missing bytes count as 0).
    uint16_t U16();
    // The next count bytes (at most what is left) in a buffer of exactly that size.
    std::unique_ptr<uint8_t[]> Take(size_t count, size_t* taken);
    // Wide characters made of the next bytes, sizeof(wchar_t) bytes each, so that every value
    // of the build's wchar_t can occur; at most maxChars.
    std::wstring WideChars(size_t maxChars);

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// An in-memory file system whose files opened for appending take every byte and keep none.
class DiscardingFileSystem : public platform::fake::FakeFileSystem {
  public:
    std::unique_ptr<platform::AppendFile> OpenForAppend(const std::wstring& path,
                                                        const wchar_t* descriptor,
                                                        platform::ErrorCode* error) override;
};

// Installs the native platform with this file system (once, for the whole run) and opens the
// log on it, enabled, so that every line a target writes goes through the log.
DiscardingFileSystem& FuzzFiles();
