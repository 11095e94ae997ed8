// A whole updater file (its payload from 0xA0400) checked as the updater checks it before it writes
// anything, and as `mkupdate verify` checks it. A package the checks accept has every entry inside the file,
// every target inside the installation folder and every delta bound to its target's version record; verify
// never accepts what the updater refuses.
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_support.h"
#include "tools/package_reader.h"
#include "update/package/package.h"
#include "update/package/package_checks.h"
#include "update/package/patch_targets.h"
#include "util/fs/relative_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::wstring path = InputFile(data, size, kPayloadOffset);
    UpdatePackage package;
    EntryTargets targets;
    std::string problem;
    const bool accepted = OpenUpdatePackage(package, path.c_str()) == kResultSuccess &&
                          CheckUpdatePackage(package, nullptr, targets, problem) == kResultSuccess;
    if (accepted) {
        FUZZ_CHECK(targets.names.size() == package.entries.size());
        for (size_t i = 0; i < package.entries.size(); ++i) {
            const ArchiveEntry& e = package.entries[i];
            FUZZ_CHECK(kPayloadOffset + e.position + e.size <= kPayloadOffset + size);
            FUZZ_CHECK(targets.names[i].empty() || IsSafeRelativePath(targets.names[i]));
            // A delta produces a target whose version record holds what the delta gives.
            const int d = targets.deltas[i];
            if (d != kNoDelta) {
                FUZZ_CHECK(static_cast<size_t>(d) < package.deltas.size() && !targets.names[i].empty());
                FUZZ_CHECK(targets.records[i] != kNoRecord &&
                           package.records[targets.records[i]].value == package.deltas[d].targetChecksum);
            }
        }
        // Every target with deltas is decided one way or another, whatever stands installed.
        for (const PatchTarget& t : FindPatchTargets(targets)) {
            size_t entry = 0;
            const PatchChoice choice = ChoosePatch(package, t, false, 0, 0, entry);
            FUZZ_CHECK(choice == (t.fullEntry >= 0 ? PatchChoice::Full : PatchChoice::NotApplicable));
        }
    }
    std::string error;
    if (VerifyUpdaterFile(path, error))
        FUZZ_CHECK(accepted);
    return 0;
}
