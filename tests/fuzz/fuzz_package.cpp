// A whole updater file (its payload from 0xA0400) checked as the updater checks it before it writes
// anything, and as `mkupdate verify` checks it. A package the checks accept has every entry inside the file
// and every target inside the installation folder; verify never accepts what the updater refuses.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/package_reader.h"
#include "update/package.h"
#include "update/package_checks.h"
#include "util/relative_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::wstring path = InputFile(data, size, PayloadOffset);
    UpdatePackage package;
    EntryTargets targets;
    std::string problem;
    const bool accepted = OpenUpdatePackage(package, path.c_str()) == kResultSuccess &&
                          CheckUpdatePackage(package, nullptr, targets, problem) == kResultSuccess;
    if (accepted) {
        FUZZ_CHECK(targets.names.size() == package.entries.size());
        for (size_t i = 0; i < package.entries.size(); ++i) {
            const ArchiveEntry& e = package.entries[i];
            FUZZ_CHECK(PayloadOffset + e.position + e.size <= PayloadOffset + size);
            FUZZ_CHECK(targets.names[i].empty() || IsSafeRelativePath(targets.names[i]));
        }
    }
    std::string error;
    if (VerifyUpdaterFile(path, error))
        FUZZ_CHECK(accepted);
    return 0;
}
