#include "platform/path_combine.h"

#include "platform/types.h"

namespace platform {

bool CombinePaths(const std::wstring& directory, const std::wstring& name, std::wstring* path) {
    bool nameIsAbsolute = (!name.empty() && (name[0] == L'\\' || name[0] == L'/')) ||
                          (name.size() >= 2 && name[1] == L':');
    std::wstring joined;
    if (directory.empty() || nameIsAbsolute) {
        joined = name;
    } else {
        joined = directory;
        if (joined.back() != L'\\' && joined.back() != L'/') {
            joined += L'\\';
        }
        joined += name;
    }
    if (joined.size() > kMaxPath - 1) {
        return false;
    }
    *path = std::move(joined);
    return true;
}

}  // namespace platform
