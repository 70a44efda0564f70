#include "platform/posix/host_path.h"

#include "platform/utf8.h"

#include <cstdlib>
#include <cwctype>

namespace platform::posix {

std::string HostPath(const std::wstring& windowsPath) {
    std::wstring rest = windowsPath;
    std::string root;
    if (rest.size() >= 2 && rest[1] == L':' && std::iswalpha(static_cast<wint_t>(rest[0]))) {
        auto drive = static_cast<char>(std::towlower(static_cast<wint_t>(rest[0])));
        rest.erase(0, 2);
        if (drive != 'z') {
            const char* drives = std::getenv("DOVRAND_DRIVES");
            root = drives != nullptr && *drives != '\0' ? drives : "/tmp/dovrand/drives";
            root += '/';
            root += drive;
            if (rest.empty()) {
                return root;
            }
        }
    }
    for (wchar_t& c : rest) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    return root + ToUtf8(rest);
}

}  // namespace platform::posix
