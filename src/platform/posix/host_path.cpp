#include "platform/posix/host_path.h"

#include <cstdlib>
#include <cwctype>

namespace platform::posix {

std::string ToUtf8(const std::wstring& text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

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
