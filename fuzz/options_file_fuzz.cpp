// cFirmwareLoader::ReadFileNames on an options file of any bytes, for both generations: 8-bit
// text for a Gobi 1000 card, UTF-16LE behind a byte-order mark for a Gobi 2000 card.
//
// Input: the generation (low bit of the first byte), then the file's bytes.
#include <string>
#include <vector>

#include "discovery/firmware_loader.h"
#include "fakes/shell_fake.h"
#include "fakes/text_files_fake.h"
#include "fuzz_rig.h"
#include "platform/platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzFiles();
    FuzzInput input(data, size);
    const int32_t generation = (input.Byte() & 1) + 1;
    size_t fileSize = 0;
    std::unique_ptr<uint8_t[]> bytes = input.Take(input.remaining(), &fileSize);

    platform::fake::FakeTextFiles textFiles;
    platform::fake::FakeShellFolders folders;
    textFiles.AddFile(generation == 1 ? L"C:\\ProgramData\\QUALCOMM\\QDLService\\Options.txt"
                                      : L"C:\\ProgramData\\QUALCOMM\\QDLService2k\\Options2kHP.txt",
                      std::vector<uint8_t>(bytes.get(), bytes.get() + fileSize));
    platform::Platform p = platform::Get();
    p.textFiles = &textFiles;
    p.folders = &folders;
    platform::ScopedPlatform use(p);

    FirmwareFileSet files;
    const bool found = cFirmwareLoader::ReadFileNames(L"HP", files, generation);
    FUZZ_CHECK(files.Generation == generation && files.Vendor == L"HP");
    FUZZ_CHECK(!found || (!files.Amss.empty() && !files.Apps.empty()));
    FUZZ_CHECK(generation == 2 || files.Uqcn.empty());
    for (const std::wstring* path : {&files.Amss, &files.Apps, &files.Uqcn}) {
        // A line ends at its line feed; a carriage return inside it stays, one at its end goes.
        FUZZ_CHECK(path->size() < platform::kMaxPath && path->find(L'\n') == std::wstring::npos);
        FUZZ_CHECK(path->empty() || path->back() != L'\r');
    }
    FUZZ_CHECK(textFiles.OpenFiles() == 0);
    return 0;
}
