// UTF-8, the encoding of text that leaves the process for a console or a host path.
#pragma once

#include <string>

namespace platform {

// UTF-8 of a wide string (UTF-16 or UTF-32); an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);

}  // namespace platform
