// Files and folders on the host, at the host paths that Windows paths map to (host_path.h),
// and the texts of Windows error codes.
#pragma once

#include "platform/files.h"

namespace platform::posix {

class PosixFileSystem : public FileSystem {
  public:
    std::unique_ptr<AppendFile> OpenForAppend(const std::wstring& path, const wchar_t* descriptor,
                                              ErrorCode* error) override;
    ErrorCode CreateDirectory(const std::wstring& path, const wchar_t* descriptor) override;
    ErrorCode GetAttributes(const std::wstring& path, uint32_t* attributes) override;
    bool PathExists(const std::wstring& path) override;
    bool PathCombine(const std::wstring& directory, const std::wstring& name,
                     std::wstring* path) override;
};

// The Windows texts of the codes this system meets; other codes have none.
class PosixSystemText : public SystemText {
  public:
    bool ErrorMessage(ErrorCode code, std::wstring* text) override;
};

}  // namespace platform::posix
