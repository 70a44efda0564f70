#include "console_text.h"

#include "platform/utf8.h"

void WriteText(FILE* stream, const std::wstring& text) {
    const std::string bytes = platform::ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
}
