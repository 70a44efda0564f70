// The firmware file set: the three image files for one card, with the card's maker, generation
// and whether the card's firmware preference may redirect the paths.
#pragma once

#include <cstdint>
#include <string>

// One record per card, owned by the caller and used for every attempt at that card; a firmware
// preference may replace the three paths (LoadToPort). Each path holds at most 259 characters
// (a path buffer of 260 with its terminator).
struct FirmwareFileSet {
    std::wstring Amss;          // full path of the AMSS image
    std::wstring Apps;          // full path of the APPS image
    std::wstring Uqcn;          // full path of the UQCN image; empty for a Gobi 1000 card
    std::wstring Vendor;        // the card maker's name, e.g. Lenovo: names its folder of images
    int32_t Generation = 0;     // 1 for Gobi 1000, 2 for Gobi 2000
    bool UsePreference = true;  // false with the start key -nopreference
    // The paths were read from an options file that others may write: an image is opened only
    // from a local drive. False for the paths a console user gave.
    bool LocalImagesOnly = false;
};
