// The shell's path functions.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

// What GetDriveTypeW says of a drive's root.
namespace drive {
constexpr uint32_t kUnknown = 0;    // DRIVE_UNKNOWN
constexpr uint32_t kNoRootDir = 1;  // DRIVE_NO_ROOT_DIR: no such drive
constexpr uint32_t kRemovable = 2;  // DRIVE_REMOVABLE
constexpr uint32_t kFixed = 3;      // DRIVE_FIXED
constexpr uint32_t kRemote = 4;     // DRIVE_REMOTE: a network drive
constexpr uint32_t kCdRom = 5;      // DRIVE_CDROM
constexpr uint32_t kRamDisk = 6;    // DRIVE_RAMDISK
}  // namespace drive

class PathFunctions {
  public:
    virtual ~PathFunctions() = default;
    // PathSearchAndQualifyW into a buffer of kMaxPath characters. False on failure.
    virtual bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) = 0;
    virtual bool IsDirectory(const std::wstring& path) = 0;  // PathIsDirectoryW
    // PathQuoteSpacesW in a buffer of kMaxPath characters: a path with a space comes back in
    // double quotes. False when it has a space and stays unquoted (it would not fit).
    virtual bool QuoteSpaces(std::wstring* path) = 0;
    // GetDriveTypeW of a root such as "X:\\" (one of drive::k...). A drive letter mapped to a
    // share is the mapping of the caller's own logon session.
    virtual uint32_t DriveType(const std::wstring& root) = 0;
};

}  // namespace platform
