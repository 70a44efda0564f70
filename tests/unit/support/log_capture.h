// Captures what the log writes, for tests: for its lifetime the log is enabled and open on an
// in-memory file system layered over the current platform.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fakes/clock_fake.h"
#include "fakes/files_fake.h"
#include "platform/platform.h"

class LogCapture {
  public:
    static constexpr const wchar_t* kFolder = L"C:\\logs";
    static constexpr const wchar_t* kPath = L"C:\\logs\\capture.log";

    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Every line written so far, without its timestamp and CR LF; "ERROR: " stays.
    std::vector<std::wstring> Lines();

    platform::fake::FakeFileSystem& files() { return files_; }

  private:
    platform::fake::FakeFileSystem files_;
    platform::fake::FakeClock clock_;
    std::optional<platform::ScopedPlatform> use_;
};

// The text of UTF-16LE bytes.
std::wstring DecodeUtf16Le(const std::vector<uint8_t>& bytes, size_t from = 0);

// The lines of log text: split at CR LF, empty lines dropped, timestamps taken off.
std::vector<std::wstring> LogLines(const std::wstring& text);
