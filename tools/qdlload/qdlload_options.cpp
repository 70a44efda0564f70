#include "qdlload_options.h"

#include <string>

#include "platform/types.h"

namespace {

constexpr size_t kMaxPathLength = platform::kMaxPath - 1;

struct ValueOption {
    const wchar_t* name;
    std::wstring QdlloadOptions::*field = nullptr;       // a field of the options, or
    std::wstring FirmwareFileSet::*fileField = nullptr;  // a field of the file set
};

const ValueOption kValueOptions[] = {
    {L"--amss", nullptr, &FirmwareFileSet::Amss},
    {L"--apps", nullptr, &FirmwareFileSet::Apps},
    {L"--uqcn", nullptr, &FirmwareFileSet::Uqcn},
    {L"--vendor", nullptr, &FirmwareFileSet::Vendor},
    {L"--log", &QdlloadOptions::logDirectory, nullptr},
};

bool Fail(std::wstring* error, std::wstring text) {
    *error = std::move(text);
    return false;
}

}  // namespace

bool ParseQdlloadArguments(const std::vector<std::wstring>& args, QdlloadOptions* options,
                           std::wstring* error) {
    QdlloadOptions parsed;
    parsed.files.UsePreference = true;
    std::vector<std::wstring> seen;
    bool generationSeen = false;
    bool automatic = false;

    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].empty()) {
            return Fail(error, L"argument " + std::to_wstring(i + 1) + L" is empty");
        }
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (arg == L"-h" || arg == L"--help" || arg == L"-?") {
            *options = QdlloadOptions{};
            options->mode = QdlloadOptions::Mode::kHelp;
            return true;
        }
        if (arg[0] != L'-') {
            if (!parsed.port.empty()) {
                return Fail(error, L"more than one port: " + parsed.port + L" and " + arg);
            }
            parsed.port = arg;
            continue;
        }
        for (const std::wstring& earlier : seen) {
            if (earlier == arg) {
                return Fail(error, arg + L" is given twice");
            }
        }
        seen.push_back(arg);

        if (arg == L"--nopreference") {
            parsed.files.UsePreference = false;
            continue;
        }
        if (arg == L"--auto") {
            automatic = true;
            continue;
        }
        if (arg == L"--verbose") {
            parsed.verbose = true;
            continue;
        }
        const bool isGeneration = arg == L"--generation";
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kValueOptions) {
            if (arg == candidate.name) {
                option = &candidate;
            }
        }
        if (!isGeneration && option == nullptr) {
            return Fail(error, L"unknown option " + arg);
        }
        if (i + 1 >= args.size() || args[i + 1].rfind(L"--", 0) == 0) {
            return Fail(error, arg + L" needs a value");
        }
        const std::wstring& value = args[++i];
        if (isGeneration) {
            if (value != L"1" && value != L"2") {
                return Fail(error, L"--generation is 1 or 2, not " + value);
            }
            parsed.files.Generation = value == L"1" ? 1 : 2;
            generationSeen = true;
            continue;
        }
        if (value.size() > kMaxPathLength) {
            return Fail(error, arg + L" is longer than 259 characters");
        }
        if (option->field != nullptr) {
            parsed.*(option->field) = value;
        } else {
            parsed.files.*(option->fileField) = value;
        }
    }

    if (automatic) {
        // The card, its port and its files are found as the service finds them.
        if (!parsed.port.empty() || generationSeen || !parsed.files.Amss.empty() ||
            !parsed.files.Apps.empty() || !parsed.files.Uqcn.empty() ||
            !parsed.files.Vendor.empty()) {
            return Fail(error, L"--auto takes only --nopreference, --log and --verbose");
        }
        parsed.mode = QdlloadOptions::Mode::kAuto;
        *options = std::move(parsed);
        return true;
    }
    if (parsed.port.empty()) {
        return Fail(error, L"no port given");
    }
    if (!generationSeen) {
        return Fail(error, L"--generation is missing");
    }
    if (parsed.files.Amss.empty()) {
        return Fail(error, L"--amss is missing");
    }
    if (parsed.files.Apps.empty()) {
        return Fail(error, L"--apps is missing");
    }
    if (parsed.files.Generation == 2 && parsed.files.Uqcn.empty()) {
        return Fail(error, L"--uqcn is needed with --generation 2");
    }
    if (parsed.files.Generation == 1 && !parsed.files.Uqcn.empty()) {
        return Fail(error, L"--uqcn is for --generation 2 only");
    }
    if (parsed.files.Generation == 2 && parsed.files.UsePreference && parsed.files.Vendor.empty()) {
        // The card's firmware preference names images in the maker's folder of images.
        return Fail(error,
                    L"--generation 2 looks for the preferred images in the card maker's folder: "
                    L"give --vendor NAME, or --nopreference");
    }
    parsed.mode = QdlloadOptions::Mode::kPort;
    *options = std::move(parsed);
    return true;
}

const wchar_t* QdlloadUsage() {
    return L"Usage: qdlload PORT --generation 1|2 --amss FILE --apps FILE [--uqcn FILE]\n"
           L"               [--vendor NAME] [--nopreference] [--log DIR] [--verbose]\n"
           L"       qdlload --auto [--nopreference] [--log DIR] [--verbose]\n"
           L"Loads the firmware into the Gobi card in download mode on PORT (for example COM7).\n"
           L"  --auto            find the card, its port and its image files as the service does\n"
           L"  --generation 1|2  Gobi 1000 (AMSS and APPS) or Gobi 2000 (AMSS, APPS and UQCN)\n"
           L"  --amss FILE       the AMSS image\n"
           L"  --apps FILE       the APPS image\n"
           L"  --uqcn FILE       the UQCN image, needed with --generation 2\n"
           L"  --vendor NAME     the card maker's folder of images for the firmware preference,\n"
           L"                    needed with --generation 2 unless --nopreference is given\n"
           L"  --nopreference    keep these files whatever firmware preference the card reports\n"
           L"  --log DIR         write the log to DIR\\qdlload.log\n"
           L"  --verbose         show the frames sent and received too\n"
           L"Every line of the log is also shown on standard error, with or without --log.\n"
           L"Exit code: 0 firmware loaded or already loaded, 1 loading failed, 2 usage error.\n";
}
