#include "discovery/load_attempt.h"

#include "discovery/device_search.h"
#include "discovery/firmware_loader.h"
#include "discovery/port_name.h"
#include "log/log.h"

LoadPreparation PrepareLoad(DeviceMatch& device, bool noPreference, std::wstring* port,
                            FirmwareFileSet* files) {
    if (device.Reference == kNoDevice && !FindGobiDevice(device)) {
        LogWrite(L"No Qualcomm Gobi devices found.");
        return LoadPreparation::kFailed;
    }
    bool loaded = false;
    int32_t generation = 0;
    std::wstring name;
    std::wstring vendor;
    if (!GetDeviceInfo(device.Reference, &loaded, &generation, &name, &vendor)) {
        LogWrite(L"Unable to get Gobi device params.");
        return LoadPreparation::kFailed;
    }
    LogWrite(L"%ls (Gobi %d000) found.", name.c_str(), generation);
    if (loaded) {
        LogWrite(L"Firmware is already loaded.");
        return LoadPreparation::kAlreadyLoaded;
    }
    if (!GetQdlPortName(device, port)) {
        LogWrite(L"Unable to find Gobi QDLoader COM port.");
        return LoadPreparation::kFailed;
    }
    LogWrite(L"QDLoader port is %ls.", port->c_str());
    *files = FirmwareFileSet{};
    files->UsePreference = true;
    if (!cFirmwareLoader::ReadFileNames(vendor.c_str(), *files, generation)) {
        LogWrite(L"Error reading firmware filenames (from txt files).");
        return LoadPreparation::kFailed;
    }
    files->UsePreference = !noPreference;
    files->LocalImagesOnly = true;
    return LoadPreparation::kReady;
}
