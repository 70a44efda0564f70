#include "fakes/registry_fake.h"

#include <cstring>

#include "platform/ascii_case.h"

namespace platform::fake {

namespace {

std::wstring Folded(std::wstring text) {
    return LowerCaseAscii(std::move(text));
}

}  // namespace

class FakeRegistryKey : public RegistryKey {
  public:
    FakeRegistryKey(FakeRegistry& registry, std::wstring path)
        : registry_(registry), path_(std::move(path)) {}

    ~FakeRegistryKey() override {
        registry_.script_.Check("RegCloseKey");
        std::lock_guard<std::mutex> lock(registry_.mutex_);
        --registry_.open_keys_;
    }

    ErrorCode QueryValue(const std::wstring& name, uint8_t* buffer, uint32_t* size) override {
        if (ErrorCode code = registry_.script_.Check("RegQueryValueExW"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(registry_.mutex_);
        const auto key = registry_.keys_.find(path_);
        if (key == registry_.keys_.end()) {
            return error::kFileNotFound;
        }
        const auto value = key->second.find(Folded(name));
        if (value == key->second.end()) {
            return error::kFileNotFound;
        }
        const auto needed = static_cast<uint32_t>(value->second.size());
        if (needed > *size) {
            *size = needed;
            return error::kMoreData;
        }
        if (needed > 0) {
            std::memcpy(buffer, value->second.data(), needed);
        }
        *size = needed;
        return 0;
    }

  private:
    FakeRegistry& registry_;
    std::wstring path_;
};

std::unique_ptr<RegistryKey> FakeRegistry::OpenLocalMachineKey(const std::wstring& path,
                                                               ErrorCode* error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        opened_.push_back(path);
    }
    if (ErrorCode code = script_.Check("RegOpenKeyW"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    std::wstring folded = Folded(path);
    if (keys_.count(folded) == 0) {
        *error = error::kFileNotFound;
        return nullptr;
    }
    ++open_keys_;
    return std::make_unique<FakeRegistryKey>(*this, std::move(folded));
}

void FakeRegistry::AddKey(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[Folded(path)];
}

void FakeRegistry::SetValue(const std::wstring& path, const std::wstring& name,
                            std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_[Folded(path)][Folded(name)] = std::move(bytes);
}

void FakeRegistry::SetString(const std::wstring& path, const std::wstring& name,
                             const std::wstring& text) {
    std::vector<uint8_t> bytes;
    for (wchar_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>((c >> 8) & 0xFF));
    }
    bytes.push_back(0);
    bytes.push_back(0);
    SetValue(path, name, std::move(bytes));
}

std::vector<std::wstring> FakeRegistry::OpenedKeys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

int FakeRegistry::OpenKeys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_keys_;
}

}  // namespace platform::fake
