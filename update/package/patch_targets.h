// The targets of a delta package that carry deltas, and what an installed file calls for: nothing (it is
// the target already), a patch (it is a delta's base), the whole file, or nothing that applies. The updater
// and `mkupdate plan` decide by the installed bytes; the installed version list's record is only a hint of
// which targets to read before the question.
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

enum class PatchChoice { Identical, Patch, Full, NotApplicable, Unreadable };
// "identical", "patch", "full", "does not apply", "cannot be read"
const char* PatchChoiceName(PatchChoice choice);

// What an installed file of `size` bytes with content checksum `checksum` (stored form) calls for; with
// Patch, `deltaEntry` is the entry of the first delta whose base it is. `installed` false: no file stands
// there.
PatchChoice ChoosePatch(const UpdatePackage& package, const PatchTarget& target, bool installed, uint64_t size,
                        uint64_t checksum, size_t& deltaEntry);
// What one installed file holds, as the caller read it. A name at which nothing stands, or a link of any kind,
// or a file leading out of the folder, is no file (`installed` false); a file that stands there but cannot be
// read is `unreadable`.
struct InstalledBytes {
    bool installed = false;
    bool unreadable = false;
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
// (kept false) or the kept original, the second only when the first does not decide. A file that cannot be
// read decides Unreadable: the run cannot go on. False, with nothing decided, as soon as `read` returns false
// (a cancel).
bool DecidePatch(const UpdatePackage& package, const PatchTarget& target,
                 const std::function<bool(bool kept, InstalledBytes& bytes)>& read, PatchDecision& decision);
// The targets without a whole file for which the installed version list `installed` records a checksum that
// is neither the target's nor any of its deltas' bases: only their bytes can tell whether the update applies.
// A target the list does not record is decided later, by its bytes.
std::vector<const PatchTarget*> TargetsTheListDoubts(const UpdatePackage& package,
                                                    const std::vector<PatchTarget>& patchTargets,
                                                    const std::vector<VersionRecord>& installed);
// The early word, by the updater and `mkupdate plan` alike: true when some target the list doubts is, by its
// bytes (read as DecidePatch reads them), neither the target nor a base. `which` gets the first such target.
// False, with `which` empty, when every doubted target is, or when a read fails (the run decides later).
bool BytesShowNotApplicable(const UpdatePackage& package, const std::vector<PatchTarget>& patchTargets,
                            const std::vector<VersionRecord>& installed,
                            const std::function<bool(const PatchTarget& target, bool kept, InstalledBytes& bytes)>& read,
                            std::string& which);

// The one rule for a "<name>.kept" an interrupted run left beside a file: it is the original, the only copy
// kept aside, when nothing stands at the name, or, while the name's own content is not what the installed
// version list records, when this run patches from it or its content is what the list records. Any other is
// stale. The updater's install phase and `mkupdate plan` both ask this, with what the patch decision read.
struct KeptFacts {
    bool nameStands = false;        // a file stands at the name itself
    bool patchedFrom = false;       // this run's patch decision chose the kept file as its base
    bool keptHasRecorded = false;   // the kept file's content has the recorded checksum
    bool nameHasRecorded = false;   // the name's own content has it
};
bool KeptIsOriginal(const KeptFacts& facts);

// What an installed version list records for a target (its path below the folder, "\" separators),
// in any spelling Windows resolves to that file (SameRecordName).
bool FindRecordedValue(const std::vector<VersionRecord>& records, const std::wstring& target, uint64_t& value);
