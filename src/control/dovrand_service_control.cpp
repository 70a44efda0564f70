#include "control/dovrand_service_control.h"

#include "platform/ascii_case.h"
#include "service/dovrand_service.h"
#include "service/service_names.h"

namespace {

// The rest of the banner's heading, after the title.
constexpr wchar_t kHeadingNotice[] = L" - firmware loader service for Gobi 1000/2000 WWAN cards";

}  // namespace

void cDovrandServiceControl::Usage() {
    const std::wstring heading =
        (std::wstring(GetTitle()) + kHeadingNotice).substr(0, kHeadingChars);
    Print(L"\n %s \n", {heading});
    Print(L"\t\t\t     Version 1.03.1\n");
    Print(L"=%s=\n", {std::wstring(heading.size(), L'=')});
    Print(
        L"Loads the firmware into a Gobi card that waits in download mode, whenever one\n"
        L"appears. Run it as a service: install it once, then it starts with Windows.\n");
    Print(L"\n/%s\\\n", {std::wstring(heading.size(), L'-')});
    Print(L"  Keys begin with \"-\" or \"/\"; the case of their letters does not matter.\n");
    Print(L"\\%s/\n\n", {std::wstring(heading.size(), L'-')});
    Print(L"Command line keys:\n\n");
    Print(L"\t-install [keys]   Install service [with service start keys]\n");
    Print(L"\t-remove           Stop and uninstall service\n");
    Print(L"\t-start            Start service\n");
    Print(L"\t-stop             Stop service\n");
    Print(L"\n");
    Print(L"Service start keys:\n\n");
    Print(
        L"\t-nopreference     [Gobi2000 only] Skip using Gobi firmware preference\n\t\t\t  and "
        L"always load firmware from Options2k*.txt\n\n");
    Print(L"\t-log              Enable logging to service's .exe directory\n");
    Print(L"\t-log <logpath>    Enable logging to the specific <logpath>\n");
    Print(L"\nNote 1: Logpath can be absolute or relative.\n");
    Print(L"Note 2: The logfile's full name can be seen in EventLog (Application).\n");
    Print(L"\n");
}

int cDovrandServiceControl::HandleCommand(const wchar_t*) {
    return -1;
}

bool cDovrandServiceControl::AddInstallKey(std::wstring& commandLine, int, wchar_t** keys,
                                           int& index, bool&) {
    if (!EqualNoCase(keys[index] + 1, L"nopref", 6)) {
        return false;
    }
    Print(L"Gobi 2000 firmware preference will be skipped. Options2k*.txt data will be used.\n");
    commandLine += L" -nopreference";
    return true;
}

int cDovrandServiceControl::ParseStartKey(unsigned, wchar_t** keys, unsigned& index) {
    // After "-log DIR" the index stands on the folder: a folder is never a key, whatever its
    // name, and an empty one has no second character to compare.
    const wchar_t* argument = keys[index];
    if ((argument[0] != L'-' && argument[0] != L'/') ||
        !EqualNoCase(argument + 1, L"nopreference", sizeof("nopreference"))) {
        return 1;
    }
    cDovrandService::Global().SetNoPreference(true);
    return 0;
}

const wchar_t* cDovrandServiceControl::GetTitle() {
    return names::kTitle;
}

const wchar_t* cDovrandServiceControl::GetServiceName() {
    return names::kServiceName;
}

const wchar_t* cDovrandServiceControl::GetDisplayName() {
    return names::kDisplayName;
}

const wchar_t* cDovrandServiceControl::GetDependencies() {
    return L"\0";
}
