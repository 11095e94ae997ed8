// Choosing, per target of a delta package, between nothing, a patch and the whole file.
#include "update/package/patch_targets.h"

#include <algorithm>

#include "archive/entry_lists.h"
#include "util/text/encoding.h"

std::vector<PatchTarget> FindPatchTargets(const EntryTargets& targets)
{
    std::vector<PatchTarget> found;
    for (size_t i = 0; i < targets.deltas.size(); ++i) {
        if (targets.deltas[i] == kNoDelta)
            continue;
        auto t = std::find_if(found.begin(), found.end(), [&](const PatchTarget& p) { return p.record == targets.records[i]; });
        if (t == found.end()) {
            found.push_back(PatchTarget());
            t = found.end() - 1;
            t->record = targets.records[i];
        }
        t->deltaEntries.push_back(i);
        t->deltaRecords.push_back(targets.deltas[i]);
    }
    for (PatchTarget& t : found) {
        for (size_t i = 0; i < targets.records.size(); ++i)
            if (targets.records[i] == t.record && targets.deltas[i] == kNoDelta && !targets.names[i].empty())
                t.fullEntry = static_cast<int>(i);
    }
    return found;
}

const PatchTarget* PatchTargetOf(const std::vector<PatchTarget>& patchTargets, int record)
{
    for (const PatchTarget& t : patchTargets)
        if (record != kNoRecord && t.record == record)
            return &t;
    return nullptr;
}

const char* PatchChoiceName(PatchChoice choice)
{
    switch (choice) {
    case PatchChoice::Identical:
        return "identical";
    case PatchChoice::Patch:
        return "patch";
    case PatchChoice::Full:
        return "full";
    case PatchChoice::Unreadable:
        return "cannot be read";
    default:
        return "does not apply";
    }
}

PatchChoice ChoosePatch(const UpdatePackage& package, const PatchTarget& target, bool installed, uint64_t size,
                        uint64_t checksum, size_t& deltaEntry)
{
    if (installed) {
        if (size == package.deltas[target.deltaRecords.front()].targetSize && checksum == package.records[target.record].value)
            return PatchChoice::Identical;
        for (size_t k = 0; k < target.deltaEntries.size(); ++k) {
            const DeltaRecord& d = package.deltas[target.deltaRecords[k]];
            if (size == d.baseSize && checksum == d.baseChecksum) {
                deltaEntry = target.deltaEntries[k];
                return PatchChoice::Patch;
            }
        }
    }
    return target.fullEntry >= 0 ? PatchChoice::Full : PatchChoice::NotApplicable;
}

bool DecidePatch(const UpdatePackage& package, const PatchTarget& target,
                 const std::function<bool(bool kept, InstalledBytes& bytes)>& read, PatchDecision& decision)
{
    bool nameStands = false;
    for (const bool kept : {false, true}) {
        InstalledBytes bytes;
        if (!read(kept, bytes))
            return false;
        if (bytes.unreadable) {
            decision = {PatchChoice::Unreadable, 0, kept};
            return true;
        }
        size_t entry = 0;
        const PatchChoice choice = ChoosePatch(package, target, bytes.installed, bytes.size, bytes.checksum, entry);
        // A kept original that is the target already decides only where nothing stands at the name: it goes
        // back there (it is the only copy), and the target is installed.
        if (choice == PatchChoice::Patch || (choice == PatchChoice::Identical && (!kept || !nameStands))) {
            decision = {choice, choice == PatchChoice::Patch ? entry : 0, kept};
            return true;
        }
        nameStands = nameStands || (!kept && bytes.installed);
    }
    decision = {target.fullEntry >= 0 ? PatchChoice::Full : PatchChoice::NotApplicable, 0, false};
    return true;
}

std::vector<const PatchTarget*> TargetsTheListDoubts(const UpdatePackage& package,
                                                    const std::vector<PatchTarget>& patchTargets,
                                                    const std::vector<VersionRecord>& installed)
{
    std::vector<const PatchTarget*> doubted;
    for (const PatchTarget& t : patchTargets) {
        if (t.fullEntry >= 0)
            continue;
        const VersionRecord& wanted = package.records[t.record];
        const auto recorded = std::find_if(installed.begin(), installed.end(),
                                           [&](const VersionRecord& r) { return SameRecordName(r.name, wanted.name); });
        if (recorded == installed.end() || recorded->value == wanted.value)
            continue;
        bool base = false;
        for (int d : t.deltaRecords)
            base = base || package.deltas[d].baseChecksum == recorded->value;
        if (!base)
            doubted.push_back(&t);
    }
    return doubted;
}

bool BytesShowNotApplicable(const UpdatePackage& package, const std::vector<PatchTarget>& patchTargets,
                            const std::vector<VersionRecord>& installed,
                            const std::function<bool(const PatchTarget& target, bool kept, InstalledBytes& bytes)>& read,
                            std::string& which)
{
    which.clear();
    for (const PatchTarget* t : TargetsTheListDoubts(package, patchTargets, installed)) {
        PatchDecision d;
        if (!DecidePatch(package, *t, [&](bool kept, InstalledBytes& bytes) { return read(*t, kept, bytes); }, d))
            return false;
        if (d.choice == PatchChoice::NotApplicable) {
            which = package.records[t->record].name;
            return true;
        }
    }
    return false;
}

bool KeptIsOriginal(const KeptFacts& facts)
{
    // The base patched from is the original unless the name holds what the list records: that is then the
    // only copy of the recorded version, and it is the one kept aside.
    return !facts.nameStands || ((facts.patchedFrom || facts.keptHasRecorded) && !facts.nameHasRecorded);
}

bool FindRecordedValue(const std::vector<VersionRecord>& records, const std::wstring& target, uint64_t& value)
{
    std::string name;
    if (!WideToMultiByte(target.c_str(), Encoding::Utf8, name))
        return false;
    for (const VersionRecord& r : records) {
        if (SameRecordName(r.name, name)) {
            value = r.value;
            return true;
        }
    }
    return false;
}
