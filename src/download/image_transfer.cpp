#include "download/image_transfer.h"

#include <cstring>
#include <new>
#include <utility>

#include "download/frame.h"
#include "download/local_image_path.h"
#include "download/serial_port.h"
#include "log/log.h"
#include "platform/platform.h"

namespace {

void PutUint32(uint8_t* out, uint32_t value) {
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
    out[2] = static_cast<uint8_t>(value >> 16);
    out[3] = static_cast<uint8_t>(value >> 24);
}

struct ImageStep {
    uint8_t typeCode;
    uint32_t trailerLength;
    const wchar_t* opening;
    const wchar_t* success;
    const wchar_t* failure;
};

constexpr ImageStep kAmssStep{kImageTypeAmss, 8, L"Sending AMSS...", L"Sending AMSS completed!",
                              L"Sending AMSS failed :-("};
constexpr ImageStep kAppsStep{kImageTypeApps, 0, L"Sending APPS...", L"Sending APPS completed!",
                              L"Sending APPS failed :-("};
constexpr ImageStep kUqcnStep{kImageTypeUqcn, 0, L"Sending UQCN...", L"Sending UQCN completed!",
                              L"Sending UQCN failed :-("};

bool RunImageStep(const ImageStep& step, const std::wstring& path, bool localOnly,
                  cSerialPort& port) {
    LogWrite(L"%ls", step.opening);
    ImageTransfer transfer(port, step.typeCode, step.trailerLength, path, localOnly);
    const bool sent = SendImage(transfer);
    LogWrite(L"%ls", sent ? step.success : step.failure);
    CloseImage(transfer);
    return sent;
}

}  // namespace

ImageTransfer::ImageTransfer(cSerialPort& port, uint8_t typeCode, uint32_t trailerLength,
                             std::wstring path, bool localOnly)
    : port(port),
      typeCode(typeCode),
      trailerLength(trailerLength),
      path(std::move(path)),
      localOnly(localOnly) {}

ImageTransfer::~ImageTransfer() {
    CloseImage(*this);
}

bool SendAmss(const FirmwareFileSet& files, cSerialPort& port) {
    return RunImageStep(kAmssStep, files.Amss, files.LocalImagesOnly, port);
}

bool SendApps(const FirmwareFileSet& files, cSerialPort& port) {
    return RunImageStep(kAppsStep, files.Apps, files.LocalImagesOnly, port);
}

bool SendUqcn(const FirmwareFileSet& files, cSerialPort& port) {
    return RunImageStep(kUqcnStep, files.Uqcn, files.LocalImagesOnly, port);
}

bool SendImage(ImageTransfer& t) {
    const bool sent = OpenImage(t) && SendPreFirmwareMessages(t) && SendImageBlocks(t) &&
                      ReceivePostFirmwareResponse(t);
    CloseImage(t);
    return sent;
}

bool OpenImage(ImageTransfer& t) {
    CloseImage(t);
    platform::ImageFiles* images = platform::Get().images;
    platform::ErrorCode error = platform::error::kSuccess;
    // Refused as a missing image is: the try fails, and nothing of the path is opened.
    if (t.localOnly) {
        if (const wchar_t* reason = NonLocalImagePath(t.path, *platform::Get().paths)) {
            LogWrite(L"Image %ls refused: %ls", t.path.c_str(), reason);
            LogWrite(L"Unable to open file %ls", t.path.c_str());
            return false;
        }
    }
    if (images != nullptr) {
        t.file = images->Open(t.path, &error);
    }
    if (!t.file) {
        LogWrite(L"Unable to open file %ls", t.path.c_str());
        return false;
    }

    uint64_t fileSize = 0;
    if (t.file->GetSize(&fileSize) != platform::error::kSuccess) {
        // A file whose end cannot be found holds nothing that could be sent.
        fileSize = 0;
    }
    if (fileSize <= t.trailerLength) {
        LogWrite(L"Too short file %ls", t.path.c_str());
        CloseImage(t);
        return false;
    }
    // The size goes to the card in 32 bits and into the log as a signed number: a larger file
    // would be announced and sent cut short.
    if (fileSize - t.trailerLength > kMaxImageSize) {
        LogWrite(L"Too large file %ls: images of 2 GiB or more are not supported", t.path.c_str());
        CloseImage(t);
        return false;
    }
    t.imageSize = static_cast<uint32_t>(fileSize - t.trailerLength);

    t.mapping = t.file->CreateMapping(t.imageSize, &error);
    if (!t.mapping) {
        LogWrite(L"CreateFileMapping() failed with %d", static_cast<int>(error));
        CloseImage(t);
        return false;
    }
    t.view = t.mapping->MapView(t.imageSize, &error);
    if (!t.view) {
        LogWrite(L"MapViewOfFile() failed with %d", static_cast<int>(error));
        CloseImage(t);
        return false;
    }

    LogWrite(L"%ls is opened.", t.path.c_str());
    LogWrite(L"Image size is %d bytes.", static_cast<int>(t.imageSize));
    return true;
}

void CloseImage(ImageTransfer& t) {
    t.view.reset();
    t.mapping.reset();
    t.file.reset();
    t.imageSize = 0;
}

bool SendPreFirmwareMessages(ImageTransfer& t) {
    uint8_t first[13] = {0x25, t.typeCode, 0, 0, 0, 0, 0x01, 0x00, 0, 0, 0, 0, 0x00};
    PutUint32(first + 2, t.imageSize);
    PutUint32(first + 8, kImageBlockSize);
    if (!t.port.IsOpen() || !SendFramedMessage(t.port, first, sizeof first)) {
        LogWrite(L"Error sending PreFirmware message 1.");
        return false;
    }

    uint8_t answer[8] = {};
    if (!t.port.ReceiveWithCRC(sizeof answer, answer)) {
        LogWrite(L"Error receiving answer for PreFirmware message 1.");
        return false;
    }
    if (answer[0] != 0x26) {
        LogWrite(L"Recieved wrong answer for PreFirmware message 1.");
        return false;
    }

    uint8_t second[11] = {0x27, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    PutUint32(second + 7, t.imageSize);
    if (!t.port.IsOpen() || !SendUnframedMessage(t.port, second, sizeof second)) {
        LogWrite(L"Error sending PreFirmware message 2.");
        return false;
    }

    LogWrite(L"PreFirmware messages - OK");
    return true;
}

bool SendImageBlocks(ImageTransfer& t) {
    LogWrite(L"Sending Firmware Image.");
    if (t.imageSize > 0 && !t.view) {
        LogWrite(L"Error sending image.");
        return false;
    }
    uint32_t remaining = t.imageSize;
    uint32_t offset = 0;
    while (remaining > 0) {
        const uint32_t n = remaining < kImageBlockSize ? remaining : kImageBlockSize;
        // The block buffer is the port's own (kept as long as the port is): the block is copied
        // into it once, and the write takes it from there.
        uint8_t* const block = t.port.Buffer(kImageBlockSize);
        if (block == nullptr) {
            LogWrite(L"Not enough memory for a block of %d bytes.",
                     static_cast<int>(kImageBlockSize));
            LogWrite(L"Error sending image.");
            return false;
        }
        LogWrite(L"Sending block of %d bytes [%d / %d]", static_cast<int>(n),
                 static_cast<int>(offset), static_cast<int>(t.imageSize));
        std::memcpy(block, t.view->Data() + offset, n);
        if (!t.port.Send(block, n)) {
            LogWrite(L"Error sending image.");
            return false;
        }
        // The write of zero bytes after each block; its result does not matter.
        t.port.Send(block, 0);
        offset += n;
        remaining -= n;
    }

    LogWrite(L"Image sending completed.");
    return true;
}

bool ReceivePostFirmwareResponse(ImageTransfer& t) {
    uint8_t response[9] = {};
    if (!t.port.ReceiveWithCRC(sizeof response, response)) {
        LogWrite(L"Error receiving of PostFirmware response.");
        return false;
    }
    if (response[0] != 0x28) {
        LogWrite(L"Recieved wrong PostFirmware response.");
        return false;
    }
    LogWrite(L"PostFirmware response - OK");
    return true;
}
