// The built-in catalogue of the Gobi card models that the system knows.
#pragma once

#include <cstddef>
#include <cstdint>

// Characters of a USB identifier field, terminator included: vid_xxxx&pid_yyyy is 17.
constexpr size_t kUsbIdChars = 18;
constexpr size_t kUsbIdLength = kUsbIdChars - 1;

struct CatalogueEntry {
    wchar_t DownloadId[kUsbIdChars];  // identifier in download mode, or empty
    wchar_t ModemId[kUsbIdChars];     // identifier once the firmware runs, or empty
    int32_t Generation;               // 1 for Gobi 1000, 2 for Gobi 2000
    const wchar_t* Vendor;            // the maker's short name: options file, image folder
    const wchar_t* Name;              // display name, for the log
};

constexpr size_t kCatalogueSize = 35;

// In the order that matching walks; entry k (counted from 1) is kCatalogue[k - 1].
extern const CatalogueEntry kCatalogue[kCatalogueSize];
