#include "fakes/text_files_fake.h"

#include <algorithm>
#include <cstring>

#include "platform/ascii_case.h"

#include "fakes/windows_1252.h"

namespace platform::fake {

namespace {

std::wstring Folded(std::wstring text) {
    return LowerCaseAscii(std::move(text));
}

}  // namespace

class FakeTextFile : public TextFile {
  public:
    FakeTextFile(FakeTextFiles& files, std::vector<uint8_t> bytes)
        : files_(files), bytes_(std::move(bytes)) {}

    ~FakeTextFile() override {
        std::lock_guard<std::mutex> lock(files_.mutex_);
        --files_.open_files_;
    }

    ErrorCode Read(void* buffer, uint32_t size, uint32_t* read) override {
        *read = 0;
        if (ErrorCode code = files_.script_.Check("ReadFile"); code != 0) {
            return code;
        }
        if (position_ < bytes_.size()) {
            const size_t count = std::min<size_t>(size, bytes_.size() - position_);
            std::memcpy(buffer, bytes_.data() + position_, count);
            position_ += count;
            *read = static_cast<uint32_t>(count);
        }
        return 0;
    }

    ErrorCode Seek(uint64_t offset) override {
        if (ErrorCode code = files_.script_.Check("SetFilePointer"); code != 0) {
            return code;
        }
        position_ = offset;
        return 0;
    }

  private:
    FakeTextFiles& files_;
    std::vector<uint8_t> bytes_;  // as the file was when opened
    uint64_t position_ = 0;
};

std::unique_ptr<TextFile> FakeTextFiles::OpenForReading(const std::wstring& path,
                                                        ErrorCode* error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        opened_.push_back(path);
    }
    if (ErrorCode code = script_.Check("OpenForReading"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const auto file = files_.find(Folded(path));
    if (file == files_.end()) {
        *error = error::kFileNotFound;
        return nullptr;
    }
    ++open_files_;
    return std::make_unique<FakeTextFile>(*this, file->second);
}

ErrorCode FakeTextFiles::WidenAnsi(const char* bytes, size_t count, std::wstring* text) {
    if (ErrorCode code = script_.Check("MultiByteToWideChar"); code != 0) {
        return code;
    }
    *text = Windows1252ToWide(bytes, count);
    return 0;
}

void FakeTextFiles::AddFile(const std::wstring& path, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[Folded(path)] = std::move(bytes);
}

void FakeTextFiles::AddFile(const std::wstring& path, const std::string& text) {
    AddFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

int FakeTextFiles::OpenFiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_files_;
}

std::vector<std::wstring> FakeTextFiles::OpenedPaths() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

}  // namespace platform::fake
