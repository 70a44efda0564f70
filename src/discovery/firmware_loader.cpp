#include "discovery/firmware_loader.h"

#include <cwchar>
#include <memory>
#include <string>

#include "discovery/options_lines.h"
#include "log/log.h"
#include "platform/ascii_case.h"
#include "platform/platform.h"
#include "platform/shell.h"
#include "platform/text_files.h"

namespace {

constexpr int kLinesRead = 3;

// The options file under the common application data folder: one for every Gobi 1000 card, one
// per vendor (its name as it is, blanks included) for Gobi 2000 cards.
std::wstring OptionsFilePath(const std::wstring& folder, const std::wstring& vendor,
                             int32_t generation) {
    std::wstring path = folder;
    if (generation == 1) {
        path += L"\\QUALCOMM\\QDLService\\Options";
    } else if (generation == 2) {
        path += L"\\QUALCOMM\\QDLService2k\\Options2k";
        path += vendor;
    }
    path += L".txt";
    return path;
}

void StripLineEnd(std::wstring& line) {
    while (!line.empty() && (line.back() == L'\r' || line.back() == L'\n')) {
        line.pop_back();
    }
}

// Takes a line as the path that it names, if it names one: AMSS first, then APPS, then (for
// generation 2 only) UQCN.
void RecogniseLine(const std::wstring& line, int32_t generation, FirmwareFileSet& files) {
    if (line.find(L"AMSS") != std::wstring::npos) {
        files.Amss = line;
        LogWrite(L"Default Amss: %ls", files.Amss.c_str());
    } else if (line.find(L"APPS") != std::wstring::npos) {
        files.Apps = line;
        LogWrite(L"Default Apps: %ls", files.Apps.c_str());
    } else if (generation == 2 && line.find(L"UQCN") != std::wstring::npos) {
        files.Uqcn = line;
        LogWrite(L"Default Uqcn: %ls", files.Uqcn.c_str());
    }
}

}  // namespace

bool cFirmwareLoader::ReadFileNames(const wchar_t* vendor, FirmwareFileSet& files,
                                    int32_t generation) {
    files.Amss.clear();
    files.Apps.clear();
    files.Uqcn.clear();
    files.Generation = generation;
    // The vendor field holds a path-sized string: at most 259 characters are kept.
    files.Vendor.assign(vendor != nullptr ? vendor : L"",
                        vendor != nullptr ? wcsnlen(vendor, platform::kMaxPath - 1) : 0);

    const platform::Platform& os = platform::Get();
    std::wstring folder;
    if (os.folders == nullptr || os.folders->CommonAppData(&folder) != platform::error::kSuccess) {
        LogWrite(L"cFirmwareLoader::ReadFileNames: SHGetFolderPath(CSIDL_COMMON_APPDATA) -> error");
        return false;
    }
    const std::wstring path = OptionsFilePath(folder, files.Vendor, generation);
    LogWrite(L"Reading %ls", path.c_str());

    platform::ErrorCode error = platform::error::kSuccess;
    std::unique_ptr<platform::TextFile> file =
        os.textFiles != nullptr ? os.textFiles->OpenForReading(path, &error) : nullptr;
    if (file == nullptr) {
        LogWrite(L"Unable to open options file: %ls", path.c_str());
        return false;
    }

    // A Gobi 2000 file is UTF-16LE behind a byte-order mark that is skipped unread; a failed
    // seek ends the reading like a read error.
    const bool wide = generation == 2;
    if (!wide || file->Seek(2) == platform::error::kSuccess) {
        OptionsLineReader reader(*file);
        std::wstring line;
        for (int i = 0; i < kLinesRead; ++i) {
            if (!(wide ? reader.ReadUtf16Line(&line) : reader.ReadAnsiLine(&line))) {
                break;
            }
            UpperCaseAscii(line);
            StripLineEnd(line);
            RecogniseLine(line, generation, files);
        }
    }
    file.reset();

    if (files.Amss.empty()) {
        LogWrite(L"Unable to local AMSS module's path");
    }
    if (files.Apps.empty()) {
        LogWrite(L"Unable to local APPS module's path");
    }
    if (generation == 2 && files.Uqcn.empty()) {
        LogWrite(L"Unable to local UQCN module's path");
    }
    return !files.Amss.empty() && !files.Apps.empty() && (generation != 2 || !files.Uqcn.empty());
}
