#include "fakes/devices_fake.h"

namespace platform::fake {

class FakeInterfaceSet : public DeviceInterfaceSet {
  public:
    FakeInterfaceSet(FakeDeviceInterfaces& devices, std::vector<FakeInterface> interfaces)
        : devices_(devices), interfaces_(std::move(interfaces)) {}

    ~FakeInterfaceSet() override {
        devices_.script_.Check("SetupDiDestroyDeviceInfoList");
        std::lock_guard<std::mutex> lock(devices_.mutex_);
        --devices_.open_sets_;
    }

    ErrorCode Enumerate(uint32_t index, uint32_t* flags) override {
        if (ErrorCode code = devices_.script_.Check("SetupDiEnumDeviceInterfaces"); code != 0) {
            return code;
        }
        if (index >= interfaces_.size()) {
            return error::kNoMoreItems;
        }
        current_ = &interfaces_[index];
        *flags = current_->flags;
        return 0;
    }

    ErrorCode DevicePath(std::wstring* path) override {
        if (ErrorCode code = devices_.script_.Check("SetupDiGetDeviceInterfaceDetailW");
            code != 0) {
            return code;
        }
        if (current_ == nullptr) {
            return error::kInvalidParameter;
        }
        if (current_->detailError != 0) {
            return current_->detailError;
        }
        *path = current_->path;
        return 0;
    }

  private:
    FakeDeviceInterfaces& devices_;
    std::vector<FakeInterface> interfaces_;  // as present when the set was made
    const FakeInterface* current_ = nullptr;
};

std::unique_ptr<DeviceInterfaceSet> FakeDeviceInterfaces::OpenPresentComPorts(ErrorCode* error) {
    if (ErrorCode code = script_.Check("SetupDiGetClassDevsW"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++open_sets_;
    return std::make_unique<FakeInterfaceSet>(*this, interfaces_);
}

void FakeDeviceInterfaces::Add(FakeInterface device) {
    std::lock_guard<std::mutex> lock(mutex_);
    interfaces_.push_back(std::move(device));
}

int FakeDeviceInterfaces::OpenSets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_sets_;
}

}  // namespace platform::fake
