#include "fakes/files_fake.h"

#include "platform/path_combine.h"

namespace platform::fake {

namespace {

constexpr uint32_t kNormal = 0x80;  // FILE_ATTRIBUTE_NORMAL

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace

class FakeAppendFile : public AppendFile {
  public:
    FakeAppendFile(FakeFileSystem& files, std::wstring path)
        : files_(files), path_(std::move(path)) {}

    ErrorCode Write(const void* data, uint32_t size, uint32_t* written) override {
        *written = 0;
        std::function<void()> hook;
        {
            std::lock_guard<std::mutex> lock(files_.mutex_);
            hook = files_.write_hook_;
        }
        if (hook) {
            hook();
        }
        if (ErrorCode code = files_.script_.Check("WriteFile"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(files_.mutex_);
        const auto* bytes = static_cast<const uint8_t*>(data);
        auto& contents = files_.files_[path_];
        contents.insert(contents.end(), bytes, bytes + size);
        *written = size;
        return 0;
    }

    ErrorCode GetSize(uint64_t* size) override {
        if (ErrorCode code = files_.script_.Check("GetFileSize"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(files_.mutex_);
        *size = files_.files_[path_].size();
        return 0;
    }

    ErrorCode FlushToDisk() override {
        if (ErrorCode code = files_.script_.Check("FlushFileBuffers"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(files_.mutex_);
        ++files_.disk_flushes_[path_];
        return 0;
    }

    ErrorCode GetInformation(uint32_t* attributes, uint32_t* links) override {
        if (ErrorCode code = files_.script_.Check("GetFileInformationByHandle"); code != 0) {
            return code;
        }
        std::lock_guard<std::mutex> lock(files_.mutex_);
        auto attribute = files_.attributes_.find(path_);
        *attributes = attribute != files_.attributes_.end() ? attribute->second : kNormal;
        auto link = files_.links_.find(path_);
        *links = link != files_.links_.end() ? link->second : 1;
        return 0;
    }

  private:
    FakeFileSystem& files_;
    std::wstring path_;
};

bool FakeFileSystem::FolderExistsLocked(const std::wstring& path) const {
    std::wstring folder = FolderOf(path);
    bool driveRoot = folder.size() == 2 && folder[1] == L':';
    return folder.empty() || driveRoot || directories_.count(folder) != 0;
}

std::unique_ptr<AppendFile> FakeFileSystem::OpenForAppend(const std::wstring& path,
                                                          const wchar_t* descriptor,
                                                          ErrorCode* error) {
    if (ErrorCode code = script_.Check("OpenForAppend"); code != 0) {
        *error = code;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!FolderExistsLocked(path)) {
        *error = error::kPathNotFound;
        return nullptr;
    }
    if (files_.count(path) == 0) {  // OPEN_ALWAYS: made empty when missing
        files_[path];
        made_with_[path] = descriptor != nullptr ? descriptor : L"";
    }
    return std::make_unique<FakeAppendFile>(*this, path);
}

ErrorCode FakeFileSystem::CreateDirectory(const std::wstring& path, const wchar_t* descriptor) {
    if (ErrorCode code = script_.Check("CreateDirectory"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (directories_.count(path) != 0 || files_.count(path) != 0) {
        return error::kAlreadyExists;
    }
    if (!FolderExistsLocked(path)) {
        return error::kPathNotFound;
    }
    directories_.insert(path);
    made_with_[path] = descriptor != nullptr ? descriptor : L"";
    return 0;
}

ErrorCode FakeFileSystem::GetAttributes(const std::wstring& path, uint32_t* attributes) {
    if (ErrorCode code = script_.Check("GetFileAttributes"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    const bool folder = directories_.count(path) != 0;
    if (!folder && files_.count(path) == 0) {
        return FolderExistsLocked(path) ? error::kFileNotFound : error::kPathNotFound;
    }
    auto attribute = attributes_.find(path);
    *attributes = attribute != attributes_.end() ? attribute->second
                  : folder                       ? file_attribute::kDirectory
                                                 : kNormal;
    return 0;
}

void FakeFileSystem::SetAttributes(const std::wstring& path, uint32_t attributes) {
    std::lock_guard<std::mutex> lock(mutex_);
    attributes_[path] = attributes;
}

void FakeFileSystem::SetLinks(const std::wstring& path, uint32_t links) {
    std::lock_guard<std::mutex> lock(mutex_);
    links_[path] = links;
}

std::optional<std::wstring> FakeFileSystem::MadeWith(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto made = made_with_.find(path);
    if (made == made_with_.end()) {
        return std::nullopt;
    }
    return made->second;
}

bool FakeFileSystem::PathExists(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    return directories_.count(path) != 0 || files_.count(path) != 0;
}

bool FakeFileSystem::PathCombine(const std::wstring& directory, const std::wstring& name,
                                 std::wstring* path) {
    if (script_.Check("PathCombine") != 0) {
        return false;
    }
    return CombinePaths(directory, name, path);
}

void FakeFileSystem::AddDirectory(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    directories_.insert(path);
}

void FakeFileSystem::AddFile(const std::wstring& path, std::vector<uint8_t> bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = std::move(bytes);
}

bool FakeFileSystem::HasFile(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return files_.count(path) != 0;
}

bool FakeFileSystem::HasDirectory(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return directories_.count(path) != 0;
}

std::vector<uint8_t> FakeFileSystem::Contents(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto file = files_.find(path);
    return file == files_.end() ? std::vector<uint8_t>() : file->second;
}

int FakeFileSystem::DiskFlushes(const std::wstring& path) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto flushes = disk_flushes_.find(path);
    return flushes == disk_flushes_.end() ? 0 : flushes->second;
}

void FakeFileSystem::SetWriteHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    write_hook_ = std::move(hook);
}

FakeSystemText::FakeSystemText() {
    texts_[error::kFileNotFound] = L"The system cannot find the file specified.\r\n";
    texts_[error::kAccessDenied] = L"Access is denied.\r\n";
}

bool FakeSystemText::ErrorMessage(ErrorCode code, std::wstring* text) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = texts_.find(code);
    if (found == texts_.end()) {
        return false;
    }
    *text = found->second;
    return true;
}

void FakeSystemText::Add(ErrorCode code, std::wstring text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_[code] = std::move(text);
}

}  // namespace platform::fake
