// This program's controller: its banner, its install key -nopreference and its names.
#pragma once

#include "control/windows_service_control.h"

class cDovrandServiceControl : public cWindowsServiceControl {
  public:
    void Usage() override;
    int HandleCommand(const wchar_t* command) override;
    bool AddInstallKey(std::wstring& commandLine, int count, wchar_t** keys, int& index,
                       bool& abort) override;
    int ParseStartKey(unsigned count, wchar_t** keys, unsigned& index) override;
    const wchar_t* GetTitle() override;
    const wchar_t* GetServiceName() override;
    const wchar_t* GetDisplayName() override;
    const wchar_t* GetDependencies() override;

    // The banner's heading: the title and a notice, at most this many characters.
    static constexpr size_t kHeadingChars = 99;
};
