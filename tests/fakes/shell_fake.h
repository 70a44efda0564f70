// Shell folders with given values, every call able to fail.
#pragma once

#include <mutex>
#include <string>

#include "fakes/failure_script.h"
#include "platform/shell.h"

namespace platform::fake {

// Calls that can be scripted to fail: "ProgramFiles", "CommonAppData". The folders are
// C:\Program Files and C:\ProgramData unless set.
class FakeShellFolders : public ShellFolders {
  public:
    ErrorCode ProgramFiles(std::wstring* folder) override;
    ErrorCode CommonAppData(std::wstring* folder) override;

    void SetProgramFiles(std::wstring folder);
    void SetCommonAppData(std::wstring folder);

    FailureScript& script() { return script_; }

  private:
    FailureScript script_;
    std::mutex mutex_;
    std::wstring program_files_ = L"C:\\Program Files";
    std::wstring common_app_data_ = L"C:\\ProgramData";
};

}  // namespace platform::fake
