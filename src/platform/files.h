// Files, folders and path functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/types.h"

namespace platform {

// What GetFileAttributesW and GetFileInformationByHandle say of a file or folder.
namespace file_attribute {
constexpr uint32_t kDirectory = 0x10;      // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t kReparsePoint = 0x400;  // FILE_ATTRIBUTE_REPARSE_POINT: junction, link
}  // namespace file_attribute

// An open file that is written at its end.
class AppendFile {
  public:
    virtual ~AppendFile() = default;  // CloseHandle
    // WriteFile, synchronous; *written gets the bytes taken.
    virtual ErrorCode Write(const void* data, uint32_t size, uint32_t* written) = 0;
    virtual ErrorCode GetSize(uint64_t* size) = 0;  // GetFileSize
    virtual ErrorCode FlushToDisk() = 0;            // FlushFileBuffers
    // GetFileInformationByHandle: the attributes of what was opened and its number of links
    // (names of the same file).
    virtual ErrorCode GetInformation(uint32_t* attributes, uint32_t* links) = 0;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;
    // CreateFileW with FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS and
    // FILE_FLAG_OPEN_REPARSE_POINT: a reparse point at the path is opened itself, never
    // followed. A file that is made gets the security descriptor given in SDDL text (null: the
    // default one). Null with *error set.
    virtual std::unique_ptr<AppendFile> OpenForAppend(const std::wstring& path,
                                                      const wchar_t* descriptor,
                                                      ErrorCode* error) = 0;
    // CreateDirectoryW: the last level only, with the security descriptor given in SDDL text
    // (null: the default one).
    virtual ErrorCode CreateDirectory(const std::wstring& path, const wchar_t* descriptor) = 0;
    // GetFileAttributesW; an error when nothing is found under the path. A final reparse point
    // is not followed: a junction says kReparsePoint.
    virtual ErrorCode GetAttributes(const std::wstring& path, uint32_t* attributes) = 0;
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
