// In-memory image files: contents or only a size, every call able to fail, and counts of what
// is still open so a test can see that everything was released.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/images.h"

namespace platform::fake {

// Calls that can be scripted to fail: "OpenImage", "GetImageSize", "CreateFileMapping",
// "MapViewOfFile". Without a script they behave as Windows does: a missing file fails to open
// with 2; a mapping of an empty file fails with 1006, one larger than the file with 8; a view
// larger than its mapping fails with 5.
class FakeImageFiles : public ImageFiles {
  public:
    std::unique_ptr<ImageFile> Open(const std::wstring& path, ErrorCode* error) override;

    void AddFile(const std::wstring& path, std::vector<uint8_t> bytes);
    // A file that reports `size` but holds no bytes (a huge file); mapping it fails with 8.
    void AddSizedFile(const std::wstring& path, uint64_t size);

    // What is open now.
    int OpenFiles() const;
    int OpenMappings() const;
    int OpenViews() const;
    // The maximum sizes of the mappings and the sizes of the views made, in order.
    std::vector<uint32_t> MappingSizes() const;
    std::vector<uint32_t> ViewSizes() const;

    FailureScript& script() { return script_; }

  private:
    friend class FakeImageFile;
    friend class FakeImageMapping;
    friend class FakeImageView;
    struct Contents {
        uint64_t size = 0;
        std::vector<uint8_t> bytes;  // empty for a sized-only file
    };
    void Count(int FakeImageFiles::*counter, int delta);

    FailureScript script_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::shared_ptr<const Contents>> entries_;
    int files_ = 0;
    int mappings_ = 0;
    int views_ = 0;
    std::vector<uint32_t> mapping_sizes_;
    std::vector<uint32_t> view_sizes_;
};

}  // namespace platform::fake
