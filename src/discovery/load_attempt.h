// The steps of a load attempt that come before the download: which card, whether it needs
// firmware, its COM port and its image files. The loader service runs them before its tries of
// LoadToPort, and `qdlload --auto` before its one download, with the same log lines.
#pragma once

#include <string>

#include "discovery/device_match.h"
#include "download/firmware_file_set.h"

enum class LoadPreparation {
    kReady,          // *port and *files name the card's port and images
    kAlreadyLoaded,  // the card runs its firmware: nothing to load
    kFailed,         // no card, no catalogue entry, no port or no options file (logged)
};

// Finds the card unless the record already holds one, reads its catalogue entry, its COM port
// and its options file. files->UsePreference is the opposite of noPreference.
LoadPreparation PrepareLoad(DeviceMatch& device, bool noPreference, std::wstring* port,
                            FirmwareFileSet* files);
