// An in-memory file system: folders, files and their bytes, with every call able to fail.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fakes/failure_script.h"
#include "platform/files.h"

namespace platform::fake {

// Calls that can be scripted to fail: "OpenForAppend", "CreateDirectory", "WriteFile",
// "GetFileSize", "FlushFileBuffers", "GetFileInformationByHandle", "GetFileAttributes",
// "PathCombine" (any code: the join fails). A file or folder has the attributes and the link
// count it was given (plain: FILE_ATTRIBUTE_NORMAL or FILE_ATTRIBUTE_DIRECTORY, one link), and
// what the system made records the descriptor it was made with.
// A path's folder is everything before its last backslash; a path without one, or a drive
// root such as "C:", always exists.
class FakeFileSystem : public FileSystem {
  public:
    std::unique_ptr<AppendFile> OpenForAppend(const std::wstring& path, const wchar_t* descriptor,
                                              ErrorCode* error) override;
    ErrorCode CreateDirectory(const std::wstring& path, const wchar_t* descriptor) override;
    ErrorCode GetAttributes(const std::wstring& path, uint32_t* attributes) override;
    bool PathExists(const std::wstring& path) override;
    bool PathCombine(const std::wstring& directory, const std::wstring& name,
                     std::wstring* path) override;

    void AddDirectory(const std::wstring& path);
    void AddFile(const std::wstring& path, std::vector<uint8_t> bytes);
    // What a file or folder added above says of itself: a junction, a hard link.
    void SetAttributes(const std::wstring& path, uint32_t attributes);
    void SetLinks(const std::wstring& path, uint32_t links);
    // The SDDL text a file or folder was made with by the system ("" for the default one);
    // nothing for what was there before or was never made.
    std::optional<std::wstring> MadeWith(const std::wstring& path) const;
    bool HasFile(const std::wstring& path) const;
    bool HasDirectory(const std::wstring& path) const;
    std::vector<uint8_t> Contents(const std::wstring& path) const;
    // How often the file was flushed to disk.
    int DiskFlushes(const std::wstring& path) const;
    // Called at the start of every write, outside the file system's lock (to make a write slow
    // or to observe it).
    void SetWriteHook(std::function<void()> hook);

    FailureScript& script() { return script_; }

  private:
    friend class FakeAppendFile;
    bool FolderExistsLocked(const std::wstring& path) const;

    FailureScript script_;
    mutable std::mutex mutex_;
    std::set<std::wstring> directories_;
    std::map<std::wstring, std::vector<uint8_t>> files_;
    std::map<std::wstring, int> disk_flushes_;
    std::map<std::wstring, uint32_t> attributes_;
    std::map<std::wstring, uint32_t> links_;
    std::map<std::wstring, std::wstring> made_with_;
    std::function<void()> write_hook_;
};

// The system's texts of a few codes, as the fake gives them: "Access is denied.\r\n" for 5,
// "The system cannot find the file specified.\r\n" for 2; every other code has none unless
// added.
class FakeSystemText : public SystemText {
  public:
    FakeSystemText();
    bool ErrorMessage(ErrorCode code, std::wstring* text) override;
    void Add(ErrorCode code, std::wstring text);

  private:
    std::mutex mutex_;
    std::map<ErrorCode, std::wstring> texts_;
};

}  // namespace platform::fake
