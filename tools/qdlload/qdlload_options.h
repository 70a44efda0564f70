// The command line of qdlload: which card port and which firmware file set.
#pragma once

#include <string>
#include <vector>

#include "download/firmware_file_set.h"

struct QdlloadOptions {
    enum class Mode {
        kHelp,  // print the usage and succeed
        kPort,  // one download into the card on `port` with `files`
        kAuto,  // find the card, its port and its options file, then one download (Windows)
    };
    Mode mode = Mode::kHelp;
    std::wstring port;          // a COM port name such as COM7
    FirmwareFileSet files;      // UsePreference true unless --nopreference
    std::wstring logDirectory;  // empty: no log
    bool verbose = false;       // the echo of the log on standard error shows the frames too
};

// Reads the arguments behind the program name. False with *error set on a usage error.
bool ParseQdlloadArguments(const std::vector<std::wstring>& args, QdlloadOptions* options,
                           std::wstring* error);

// The usage text, lines ending in "\n".
const wchar_t* QdlloadUsage();
