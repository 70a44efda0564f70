// Files, folders, path functions and error texts over the Win32 calls.
#pragma once

#include "platform/files.h"

namespace platform::win32 {

class Win32FileSystem : public FileSystem {
  public:
    std::unique_ptr<AppendFile> OpenForAppend(const std::wstring& path, const wchar_t* descriptor,
                                              ErrorCode* error) override;
    ErrorCode CreateDirectory(const std::wstring& path, const wchar_t* descriptor) override;
    ErrorCode GetAttributes(const std::wstring& path, uint32_t* attributes) override;
    bool PathExists(const std::wstring& path) override;
    bool PathCombine(const std::wstring& directory, const std::wstring& name,
                     std::wstring* path) override;
};

class Win32SystemText : public SystemText {
  public:
    bool ErrorMessage(ErrorCode code, std::wstring* text) override;
};

}  // namespace platform::win32
