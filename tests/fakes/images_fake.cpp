#include "fakes/images_fake.h"

#include <utility>

namespace platform::fake {

namespace {
constexpr ErrorCode kFileInvalid = 1006;  // ERROR_FILE_INVALID
}

class FakeImageView : public ImageView {
  public:
    FakeImageView(FakeImageFiles& owner, std::shared_ptr<const FakeImageFiles::Contents> contents)
        : owner_(owner), contents_(std::move(contents)) {
        owner_.Count(&FakeImageFiles::views_, 1);
    }
    ~FakeImageView() override { owner_.Count(&FakeImageFiles::views_, -1); }
    const uint8_t* Data() const override { return contents_->bytes.data(); }

  private:
    FakeImageFiles& owner_;
    std::shared_ptr<const FakeImageFiles::Contents> contents_;
};

class FakeImageMapping : public ImageMapping {
  public:
    FakeImageMapping(FakeImageFiles& owner,
                     std::shared_ptr<const FakeImageFiles::Contents> contents, uint64_t size)
        : owner_(owner), contents_(std::move(contents)), size_(size) {
        owner_.Count(&FakeImageFiles::mappings_, 1);
    }
    ~FakeImageMapping() override { owner_.Count(&FakeImageFiles::mappings_, -1); }

    std::unique_ptr<ImageView> MapView(uint32_t size, ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.view_sizes_.push_back(size);
        }
        if (const ErrorCode code = owner_.script_.Check("MapViewOfFile")) {
            *error = code;
            return nullptr;
        }
        if (size == 0 || size > size_) {
            *error = error::kAccessDenied;
            return nullptr;
        }
        if (contents_->bytes.size() < size) {
            *error = error::kNotEnoughMemory;  // a sized-only file has nothing to show
            return nullptr;
        }
        return std::make_unique<FakeImageView>(owner_, contents_);
    }

  private:
    FakeImageFiles& owner_;
    std::shared_ptr<const FakeImageFiles::Contents> contents_;
    uint64_t size_;
};

class FakeImageFile : public ImageFile {
  public:
    FakeImageFile(FakeImageFiles& owner, std::shared_ptr<const FakeImageFiles::Contents> contents)
        : owner_(owner), contents_(std::move(contents)) {
        owner_.Count(&FakeImageFiles::files_, 1);
    }
    ~FakeImageFile() override { owner_.Count(&FakeImageFiles::files_, -1); }

    ErrorCode GetSize(uint64_t* size) override {
        if (const ErrorCode code = owner_.script_.Check("GetImageSize")) {
            return code;
        }
        *size = contents_->size;
        return error::kSuccess;
    }

    std::unique_ptr<ImageMapping> CreateMapping(uint32_t maximumSize, ErrorCode* error) override {
        {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.mapping_sizes_.push_back(maximumSize);
        }
        if (const ErrorCode code = owner_.script_.Check("CreateFileMapping")) {
            *error = code;
            return nullptr;
        }
        if (maximumSize == 0 && contents_->size == 0) {
            *error = kFileInvalid;
            return nullptr;
        }
        if (maximumSize > contents_->size) {
            *error = error::kNotEnoughMemory;
            return nullptr;
        }
        return std::make_unique<FakeImageMapping>(owner_, contents_,
                                                  maximumSize == 0 ? contents_->size : maximumSize);
    }

  private:
    FakeImageFiles& owner_;
    std::shared_ptr<const FakeImageFiles::Contents> contents_;
};

std::unique_ptr<ImageFile> FakeImageFiles::Open(const std::wstring& path, ErrorCode* error) {
    if (const ErrorCode code = script_.Check("OpenImage")) {
        *error = code;
        return nullptr;
    }
    std::shared_ptr<const Contents> contents;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = entries_.find(path);
        if (found != entries_.end()) {
            contents = found->second;
        }
    }
    if (!contents) {
        *error = error::kFileNotFound;
        return nullptr;
    }
    return std::make_unique<FakeImageFile>(*this, std::move(contents));
}

void FakeImageFiles::AddFile(const std::wstring& path, std::vector<uint8_t> bytes) {
    auto contents = std::make_shared<Contents>();
    contents->size = bytes.size();
    contents->bytes = std::move(bytes);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[path] = std::move(contents);
}

void FakeImageFiles::AddSizedFile(const std::wstring& path, uint64_t size) {
    auto contents = std::make_shared<Contents>();
    contents->size = size;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[path] = std::move(contents);
}

int FakeImageFiles::OpenFiles() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_;
}

int FakeImageFiles::OpenMappings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mappings_;
}

int FakeImageFiles::OpenViews() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return views_;
}

std::vector<uint32_t> FakeImageFiles::MappingSizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mapping_sizes_;
}

std::vector<uint32_t> FakeImageFiles::ViewSizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return view_sizes_;
}

void FakeImageFiles::Count(int FakeImageFiles::*counter, int delta) {
    std::lock_guard<std::mutex> lock(mutex_);
    this->*counter += delta;
}

}  // namespace platform::fake
