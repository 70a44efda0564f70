// In-memory files to read as text, every call able to fail.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/text_files.h"

namespace platform::fake {

// Calls that can be scripted to fail: "OpenForReading", "ReadFile", "SetFilePointer",
// "MultiByteToWideChar". A missing file fails to open with kFileNotFound. Paths compare without
// regard to ASCII letter case. The ANSI code page is Windows-1252, as on the host.
class FakeTextFiles : public TextFiles {
  public:
    std::unique_ptr<TextFile> OpenForReading(const std::wstring& path, ErrorCode* error) override;
    ErrorCode WidenAnsi(const char* bytes, size_t count, std::wstring* text) override;

    void AddFile(const std::wstring& path, std::vector<uint8_t> bytes);
    // The bytes of an 8-bit text.
    void AddFile(const std::wstring& path, const std::string& text);
    // Files open now.
    int OpenFiles() const;
    // The paths given to OpenForReading, in order.
    std::vector<std::wstring> OpenedPaths() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeTextFile;

    FailureScript script_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::vector<uint8_t>> files_;  // by lower-cased path
    std::vector<std::wstring> opened_;
    int open_files_ = 0;
};

}  // namespace platform::fake
