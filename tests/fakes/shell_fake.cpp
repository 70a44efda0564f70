#include "fakes/shell_fake.h"

namespace platform::fake {

ErrorCode FakeShellFolders::ProgramFiles(std::wstring* folder) {
    if (ErrorCode code = script_.Check("ProgramFiles"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *folder = program_files_;
    return 0;
}

ErrorCode FakeShellFolders::CommonAppData(std::wstring* folder) {
    if (ErrorCode code = script_.Check("CommonAppData"); code != 0) {
        return code;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    *folder = common_app_data_;
    return 0;
}

void FakeShellFolders::SetProgramFiles(std::wstring folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    program_files_ = std::move(folder);
}

void FakeShellFolders::SetCommonAppData(std::wstring folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    common_app_data_ = std::move(folder);
}

}  // namespace platform::fake
