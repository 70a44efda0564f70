// The program's own path and the shell's path functions.
#pragma once

#include <cstdint>
#include <string>

#include "platform/types.h"

namespace platform {

class PathFunctions {
  public:
    virtual ~PathFunctions() = default;
    // GetModuleFileNameW of the program into a buffer of bufferChars characters, terminator
    // included. A path that does not fit is kInsufficientBuffer (the call cuts it silently).
    virtual ErrorCode ModuleFileName(uint32_t bufferChars, std::wstring* path) = 0;
    // PathSearchAndQualifyW into a buffer of kMaxPath characters. False on failure.
    virtual bool SearchAndQualify(const std::wstring& path, std::wstring* qualified) = 0;
    virtual bool IsDirectory(const std::wstring& path) = 0;  // PathIsDirectoryW
    // PathQuoteSpacesW in a buffer of kMaxPath characters: a path with a space comes back in
    // double quotes. False when it has a space and stays unquoted (it would not fit).
    virtual bool QuoteSpaces(std::wstring* path) = 0;
    // PathUnquoteSpacesW: removes one pair of enclosing double quotes.
    virtual void UnquoteSpaces(std::wstring* path) = 0;
};

}  // namespace platform
