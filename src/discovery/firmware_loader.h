// Firmware file selection: the image paths of a card from the options files of the chip maker's
// driver package.
#pragma once

#include <cstdint>

#include "download/firmware_file_set.h"

class cFirmwareLoader {
  public:
    // Fills the file set for a card of the given vendor and generation (1 or 2): empties the
    // three paths, stores generation and vendor, and takes the AMSS, APPS and (generation 2) UQCN
    // paths from the first three lines of the options file, in capitals and without their line
    // ends. True when every path that the generation needs was found. Logs each step.
    static bool ReadFileNames(const wchar_t* vendor, FirmwareFileSet& files, int32_t generation);
};
