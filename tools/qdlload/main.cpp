// qdlload's entry point: wmain on Windows, main on the host with the arguments widened from
// the locale's encoding.
#include <string>
#include <vector>

#include "qdlload_run.h"

#ifdef _WIN32

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    return QdlloadMain(args);
}

#else

#include <clocale>
#include <cstdlib>

#include "console_text.h"

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "");
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        const size_t length = std::mbstowcs(nullptr, argv[i], 0);
        if (length == static_cast<size_t>(-1)) {
            WriteText(stderr, L"qdlload: argument " + std::to_wstring(i) +
                                  L" is not valid text in this locale\n");
            return kQdlloadUsage;
        }
        std::wstring arg(length, L'\0');
        std::mbstowcs(arg.data(), argv[i], length + 1);
        args.push_back(std::move(arg));
    }
    return QdlloadMain(args);
}

#endif
