// Files, folders and path functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// An open file that is written at its end.
class AppendFile {
  public:
    virtual ~AppendFile() = default;  // CloseHandle
    // WriteFile, synchronous; *written gets the bytes taken.
    virtual ErrorCode Write(const void* data, uint32_t size, uint32_t* written) = 0;
    virtual ErrorCode GetSize(uint64_t* size) = 0;  // GetFileSize
    virtual ErrorCode FlushToDisk() = 0;            // FlushFileBuffers
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // CreateFileW with FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS. Null with *error set.
    virtual std::unique_ptr<AppendFile> OpenForAppend(const std::wstring& path,
                                                      ErrorCode* error) = 0;
    // CreateDirectoryW: the last level only.
    virtual ErrorCode CreateDirectory(const std::wstring& path) = 0;
    // GetFileAttributesW succeeds: something exists under the path.
    virtual bool PathExists(const std::wstring& path) = 0;
    // PathCombineW: joins a folder and a name into a path of at most kMaxPath - 1
    // characters. False when the result would not fit.
    virtual bool PathCombine(const std::wstring& directory, const std::wstring& name,
                             std::wstring* path) = 0;
};

// The system's text of a Windows error code (FormatMessageW, FROM_SYSTEM): the text as the
// system gives it, closing CR LF included. False when the system has no text for the code.
class SystemText {
  public:
    virtual ~SystemText() = default;
    virtual bool ErrorMessage(ErrorCode code, std::wstring* text) = 0;
};

}  // namespace platform
