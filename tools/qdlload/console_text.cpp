#include "console_text.h"

#include "platform/console.h"
#include "platform/platform.h"
#include "platform/utf8.h"

void WriteText(FILE* stream, const std::wstring& text) {
#ifdef _WIN32
    // UTF-8 bytes through the C runtime would show a path with non-ASCII letters as garbage on
    // a console, whose code page is not UTF-8.
    platform::Console& console = *platform::Get().console;
    if (stream == stderr) {
        console.WriteError(text);
    } else {
        console.Write(text);
    }
#else
    const std::string bytes = platform::ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::fflush(stream);
#endif
}
