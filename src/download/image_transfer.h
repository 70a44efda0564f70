// Sending one firmware image to a card in download mode: the file mapped read-only, two
// PreFirmware messages, the image as raw 256 KiB blocks, then the PostFirmware response.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "download/firmware_file_set.h"
#include "platform/images.h"

class cSerialPort;

// The largest block of image data handed to the port in one write (256 KiB).
constexpr uint32_t kImageBlockSize = 0x40000;

// Image type codes of PreFirmware message 1.
constexpr uint8_t kImageTypeAmss = 5;
constexpr uint8_t kImageTypeApps = 6;
constexpr uint8_t kImageTypeUqcn = 13;

// The largest image sent: its size goes out as 32 bits and is logged as a signed number.
constexpr uint64_t kMaxImageSize = 0x7FFFFFFF;

// One image on its way to the card; lives for one step and releases the file on every path.
struct ImageTransfer {
    ImageTransfer(cSerialPort& port, uint8_t typeCode, uint32_t trailerLength, std::wstring path,
                  bool localOnly = false);
    ~ImageTransfer();
    ImageTransfer(const ImageTransfer&) = delete;
    ImageTransfer& operator=(const ImageTransfer&) = delete;

    cSerialPort& port;
    uint8_t typeCode;
    uint32_t trailerLength;   // bytes at the end of the file that are not sent
    const std::wstring path;  // its own copy: the transfer may be built from a temporary
    const bool localOnly;     // opened only from a local drive (FirmwareFileSet::LocalImagesOnly)
    std::unique_ptr<platform::ImageFile> file;
    uint32_t imageSize = 0;  // file size minus trailer; 0 while nothing is open
    std::unique_ptr<platform::ImageMapping> mapping;
    std::unique_ptr<platform::ImageView> view;  // the first imageSize bytes of the file
};

// The three image steps of a download, in this order (UQCN for a Gobi 2000 card only).
// Each returns true when its image was sent and acknowledged.
bool SendAmss(const FirmwareFileSet& files, cSerialPort& port);
bool SendApps(const FirmwareFileSet& files, cSerialPort& port);
bool SendUqcn(const FirmwareFileSet& files, cSerialPort& port);

// The exchange for one image: open, PreFirmware messages, blocks, PostFirmware response; the
// file is released whatever the outcome.
bool SendImage(ImageTransfer& t);
bool OpenImage(ImageTransfer& t);
// Releases view, mapping and file, in this order; calling it again does nothing more.
void CloseImage(ImageTransfer& t);
bool SendPreFirmwareMessages(ImageTransfer& t);
bool SendImageBlocks(ImageTransfer& t);
bool ReceivePostFirmwareResponse(ImageTransfer& t);
