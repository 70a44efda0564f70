// Image files: opened for reading without sharing restrictions and mapped read-only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// A read-only view of a mapping (MapViewOfFile); destroying it unmaps it (UnmapViewOfFile).
class ImageView {
  public:
    virtual ~ImageView() = default;
    // The first byte of the view; the view spans the size it was mapped with.
    virtual const uint8_t* Data() const = 0;
};

// A read-only mapping object of an open file (CreateFileMappingW, PAGE_READONLY); destroying
// it closes it (CloseHandle). A view keeps what it maps even after its mapping is gone.
class ImageMapping {
  public:
    virtual ~ImageMapping() = default;
    // MapViewOfFile with FILE_MAP_READ from offset 0 over size bytes. Null with *error set.
    virtual std::unique_ptr<ImageView> MapView(uint32_t size, ErrorCode* error) = 0;
};

// An image file open for reading; destroying it closes it.
class ImageFile {
  public:
    virtual ~ImageFile() = default;
    // The file's size in bytes, the whole 64-bit value (seek to the end, read the position).
    virtual ErrorCode GetSize(uint64_t* size) = 0;
    // CreateFileMappingW with PAGE_READONLY and maximumSize. Null with *error set.
    virtual std::unique_ptr<ImageMapping> CreateMapping(uint32_t maximumSize, ErrorCode* error) = 0;
};

class ImageFiles {
  public:
    virtual ~ImageFiles() = default;
    // Opens an existing file for reading its bytes as they are, without sharing restrictions.
    // Null with *error set.
    virtual std::unique_ptr<ImageFile> Open(const std::wstring& path, ErrorCode* error) = 0;
};

}  // namespace platform
