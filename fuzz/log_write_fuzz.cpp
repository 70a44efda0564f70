// The log's WriteV with wide-string arguments of any content and length, through the formats
// that the system writes with (leading line feeds, the error prefix, integers and strings), from
// a few characters to beyond the longest line the log takes.
//
// Input: the format (1 byte), a repeat count (2 bytes), two integers (2 bytes each), then the
// characters of the string argument.
#include <cstdarg>
#include <string>

#include "fuzz_rig.h"
#include "log/log.h"

namespace {

constexpr const wchar_t* kFormats[] = {
    L"%ls",
    L"\n%ls",
    L"\n\n\n%ls: %d",
    L"Reading %ls",
    L"cSerialPort.Open: Unable to open port %ls. ErrorCode: %d",
    L"Sending block of %d bytes [%d / %d]",
    L"%ls (0x%x) %ls",
    L"Recieved wrong answer %d%%",
};

void Write(bool isError, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(isError, format, args);
    va_end(args);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFiles();
    FuzzInput input(data, size);
    const uint8_t choice = input.Byte();
    const wchar_t* format = kFormats[choice % std::size(kFormats)];
    const bool isError = (choice & 0x80) != 0;
    // Repeated up to 65535 times, a short argument reaches the heap-formatted lines (above 5000
    // characters) and the refused ones (above 95000).
    const size_t repeat = input.U16() % 512 + 1;
    const int first = static_cast<int16_t>(input.U16());
    const int second = static_cast<int16_t>(input.U16());
    const std::wstring piece = input.WideChars(1024);
    std::wstring text;
    text.reserve(piece.size() * repeat);
    for (size_t i = 0; i < repeat; ++i) {
        text += piece;
    }
    // The argument in a heap buffer of exactly its characters and terminator.
    std::unique_ptr<wchar_t[]> argument(new wchar_t[text.size() + 1]);
    std::wmemcpy(argument.get(), text.c_str(), text.size() + 1);

    switch (choice % std::size(kFormats)) {
        case 5:
        case 7:
            Write(isError, format, first, second, first ^ second);
            break;
        case 2:
        case 4:
            Write(isError, format, argument.get(), first);
            break;
        case 6:
            Write(isError, format, argument.get(), second, argument.get());
            break;
        default:
            Write(isError, format, argument.get());
            break;
    }
    return 0;
}
