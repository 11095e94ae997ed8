// The targets of a delta package that carry deltas, and what an installed file calls for: nothing (it is
// the target already), a patch (it is a delta's base), the whole file, or nothing that applies. The updater
// decides by the installed bytes; before asking, and in `mkupdate plan`, the installed version list's record
// stands in for them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/entry_lists.h"
#include "update/package/package.h"
#include "update/package/package_checks.h"

struct PatchTarget {
    int record = kNoRecord;           // the target's version record in the payload
    std::vector<size_t> deltaEntries;  // its deltas' entries, in payload order...
    std::vector<int> deltaRecords;     // ...and their records in the delta table
    int fullEntry = -1;                // the entry of its whole file, or -1 when the package has none
};

// Every target that has deltas, in the order of its first entry.
std::vector<PatchTarget> FindPatchTargets(const EntryTargets& targets);
// The patch target of version record `record`, or null when the record has no deltas.
const PatchTarget* PatchTargetOf(const std::vector<PatchTarget>& patchTargets, int record);

enum class PatchChoice { Identical, Patch, Full, NotApplicable };
const char* PatchChoiceName(PatchChoice choice);  // "identical", "patch", "full", "does not apply"

// What an installed file of `size` bytes with content checksum `checksum` (stored form) calls for; with
// Patch, `deltaEntry` is the entry of the first delta whose base it is. `installed` false: no file stands
// there.
PatchChoice ChoosePatch(const UpdatePackage& package, const PatchTarget& target, bool installed, uint64_t size,
                        uint64_t checksum, size_t& deltaEntry);
// What one installed file holds, as the caller read it: `installed` false when no readable file stands there.
struct InstalledBytes {
    bool installed = false;
    uint64_t size = 0;
    uint64_t checksum = 0;  // stored form
};
struct PatchDecision {
    PatchChoice choice = PatchChoice::NotApplicable;
    size_t deltaEntry = 0;  // with Patch: the delta to apply...
    bool fromKept = false;  // ...to the original an interrupted run kept aside ("<target>.kept"), not the target
};
// Decides a target with deltas by its installed bytes: the target file when it is the target already or a
// delta's base; else the kept original when it is a delta's base (an install interrupted after the target
// was renamed aside); else the whole file, when the package carries one. `read(kept, bytes)` reads the target
// (kept false) or the kept original, the second only when the first does not decide. False, with nothing
// decided, as soon as `read` returns false.
bool DecidePatch(const UpdatePackage& package, const PatchTarget& target,
                 const std::function<bool(bool kept, InstalledBytes& bytes)>& read, PatchDecision& decision);
// True when the installed version list `installed` records, for some target without a whole file, a
// checksum that is neither the target's nor any of its deltas' bases: the update cannot apply, and the
// player is told so before being asked. `which` gets the first such target. A target the list does not
// record is decided later, by its bytes.
bool ListShowsNotApplicable(const UpdatePackage& package, const std::vector<PatchTarget>& patchTargets,
                            const std::vector<VersionRecord>& installed, std::string& which);

// What an installed version list records for a target (its path below the folder, "\" separators), in
// either separator and any ASCII case.
bool FindRecordedValue(const std::vector<VersionRecord>& records, const std::wstring& target, uint64_t& value);
