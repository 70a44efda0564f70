#include "platform/posix/devices_posix.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace platform::posix {

namespace {

// The first line of a file, each byte one character; false when it cannot be read.
bool FirstLine(const std::string& file, std::wstring* line) {
    FILE* stream = std::fopen(file.c_str(), "rb");
    if (stream == nullptr) {
        return false;
    }
    line->clear();
    for (int c = std::fgetc(stream); c != EOF && c != '\n' && c != '\r'; c = std::fgetc(stream)) {
        line->push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    }
    std::fclose(stream);
    return true;
}

class PosixInterfaceSet : public DeviceInterfaceSet {
  public:
    explicit PosixInterfaceSet(std::vector<std::wstring> paths) : paths_(std::move(paths)) {}

    ErrorCode Enumerate(uint32_t index, uint32_t* flags) override {
        if (index >= paths_.size()) {
            return error::kNoMoreItems;
        }
        current_ = index;
        *flags = kInterfaceActive;
        return error::kSuccess;
    }

    ErrorCode DevicePath(std::wstring* path) override {
        if (current_ >= paths_.size()) {
            return error::kInvalidParameter;
        }
        *path = paths_[current_];
        return error::kSuccess;
    }

  private:
    std::vector<std::wstring> paths_;
    size_t current_ = SIZE_MAX;
};

}  // namespace

std::unique_ptr<DeviceInterfaceSet> PosixDeviceInterfaces::OpenPresentComPorts(ErrorCode*) {
    std::vector<std::wstring> paths;
    const char* folder = std::getenv("DOVRAND_DEVICES");
    if (folder != nullptr && *folder != '\0') {
        std::vector<std::string> names;
        if (DIR* directory = opendir(folder)) {
            while (const dirent* entry = readdir(directory)) {
                names.emplace_back(entry->d_name);
            }
            closedir(directory);
        }
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            const std::string file = std::string(folder) + "/" + name;
            struct stat info;
            std::wstring path;
            if (stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && FirstLine(file, &path)) {
                paths.push_back(std::move(path));
            }
        }
    }
    return std::make_unique<PosixInterfaceSet>(std::move(paths));
}

}  // namespace platform::posix
