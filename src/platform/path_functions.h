// The shell's path functions.
#pragma once

#include <string>

#include "platform/types.h"

namespace platform {

class PathFunctions {
  public:
    virtual ~PathFunctions() = default;
    // PathSearchAndQualifyW into a buffer of kMaxPath characters. False on failure.
    virtual bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) = 0;
    virtual bool IsDirectory(const std::wstring& path) = 0;  // PathIsDirectoryW
    // PathQuoteSpacesW in a buffer of kMaxPath characters: a path with a space comes back in
    // double quotes. False when it has a space and stays unquoted (it would not fit).
    virtual bool QuoteSpaces(std::wstring* path) = 0;
};

}  // namespace platform
