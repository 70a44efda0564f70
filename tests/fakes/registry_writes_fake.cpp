#include "fakes/registry_writes_fake.h"

#include "platform/ascii_case.h"

namespace platform::fake {

class FakeWritableKey : public WritableKey {
  public:
    FakeWritableKey(FakeRegistryWrites& registry, std::wstring path)
        : registry_(registry), path_(std::move(path)) {}

    ~FakeWritableKey() override {
        registry_.script_.Check("RegCloseKey");
        std::lock_guard<std::mutex> lock(registry_.mutex_);
        --registry_.open_keys_;
    }

    std::unique_ptr<WritableKey> CreateSubKey(const std::wstring& name, uint32_t access,
                                              ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(registry_.mutex_);
            registry_.access_.push_back(access);
        }
        if (ErrorCode code = registry_.script_.Check("RegCreateKeyExW"); code != 0) {
            *error = code;
            return nullptr;
        }
        std::wstring path = path_ + L"\\" + name;
        std::lock_guard<std::mutex> lock(registry_.mutex_);
        registry_.keys_.insert(LowerCaseAscii(path));
        ++registry_.open_keys_;
        return std::make_unique<FakeWritableKey>(registry_, std::move(path));
    }

    ErrorCode SetValue(const std::wstring& name, uint32_t type, const uint8_t* data,
                       uint32_t size) override {
        if (ErrorCode code = registry_.script_.Check("RegSetValueExW"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(registry_.mutex_);
        registry_.written_.push_back(
            WrittenValue{path_, name, type, std::vector<uint8_t>(data, data + size)});
        return 0;
    }

  private:
    FakeRegistryWrites& registry_;
    std::wstring path_;
};

std::unique_ptr<WritableKey> FakeRegistryWrites::OpenLocalMachineKey(const std::wstring& path,
                                                                     uint32_t access,
                                                                     ErrorCode* error) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        access_.push_back(access);
    }
    if (ErrorCode code = script_.Check("RegOpenKeyExW"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (keys_.count(LowerCaseAscii(path)) == 0) {
        *error = error::kFileNotFound;
        return nullptr;
    }
    ++open_keys_;
    return std::make_unique<FakeWritableKey>(*this, path);
}

void FakeRegistryWrites::AddKey(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    keys_.insert(LowerCaseAscii(path));
}

bool FakeRegistryWrites::HasKey(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return keys_.count(LowerCaseAscii(path)) != 0;
}

std::vector<WrittenValue> FakeRegistryWrites::Written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<uint32_t> FakeRegistryWrites::AccessRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return access_;
}

int FakeRegistryWrites::OpenKeys() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_keys_;
}

}  // namespace platform::fake
