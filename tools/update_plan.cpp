// The dry run: the package checks and checksums of verify, then each target's state and both lists as the
// updater would leave them.
#include "tools/update_plan.h"

#include <algorithm>

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "tools/package_reader.h"
#include "update/package/list_updates.h"
#include "update/package/package_checks.h"
#include "update/package/package_layout.h"
#include "update/package/patch_targets.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/fs/relative_path.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

// Size and content checksum of an installed file, as the updater reads it: nothing stands there for a missing
// name, a link or a file leading outside; `unreadable` for one that stands there but cannot be read.
InstalledBytes ReadInstalled(const FolderReader& folder, const std::wstring& name, std::vector<unsigned char>& buffer)
{
    InstalledBytes bytes;
    CFileDX file;
    const FolderReader::Opened opened = folder.OpenInstalled(name, file);
    if (opened == FolderReader::Opened::Missing)
        return bytes;
    bytes.installed = opened == FolderReader::Opened::Yes && (bytes.size = file.GetSize()) != 0xFFFFFFFF &&
                      ChecksumStream(file, bytes.size, buffer, bytes.checksum);
    bytes.unreadable = !bytes.installed;
    return bytes;
}

// What plan learnt of one target's installed file and kept original while deciding it.
struct ReadFacts {
    bool nameRead = false, keptRead = false;
    InstalledBytes name, kept;
    bool patchedFromKept = false;
    bool identicalFromKept = false;
    PatchDecision decision;  // what the target calls for, and with Patch the delta applied
};

// A target with deltas, decided as the updater decides it: by the installed file's bytes, then by the
// original an interrupted run kept aside.
PlannedTarget PlanPatchTarget(const FolderReader& folder, const UpdatePackage& package, const EntryTargets& targets,
                              const PatchTarget& p, std::vector<unsigned char>& buffer, ReadFacts& facts)
{
    const size_t first = p.deltaEntries.front();
    PlannedTarget t;
    t.target = ToUtf8(targets.names[first]);
    t.newSize = package.deltas[targets.deltas[first]].targetSize;
    t.newChecksum = package.records[p.record].value;
    PatchDecision d;
    DecidePatch(package, p,
                [&](bool kept, InstalledBytes& bytes) {
                    bytes = ReadInstalled(folder, targets.names[first] + (kept ? kKeptSuffix : L""), buffer);
                    (kept ? facts.kept : facts.name) = bytes;
                    (kept ? facts.keptRead : facts.nameRead) = true;
                    if (!kept) {
                        t.installed = bytes.installed;
                        t.oldSize = bytes.size;
                        t.oldChecksum = bytes.checksum;
                    }
                    return true;
                },
                d);
    facts.decision = d;
    facts.patchedFromKept = (d.choice == PatchChoice::Patch || d.choice == PatchChoice::Identical) && d.fromKept;
    facts.identicalFromKept = d.choice == PatchChoice::Identical && d.fromKept;
    if (d.choice == PatchChoice::Patch)
        t.base = ToUtf8(targets.names[first] + (d.fromKept ? kKeptSuffix : L""));
    t.action = PatchChoiceName(d.choice);
    t.entry = d.choice == PatchChoice::Patch ? package.entries[d.deltaEntry].name
              : p.fullEntry >= 0           ? package.entries[static_cast<size_t>(p.fullEntry)].name
                                           : package.entries[first].name;
    return t;
}

// The fates of the leftovers beside `name` (below the folder), as the install phase judges them.
bool PlanLeftovers(const FolderReader& folder, const std::wstring& name, bool installs, const ReadFacts* facts,
                   const std::vector<VersionRecord>& records, std::vector<unsigned char>& buffer, UpdatePlan& plan,
                   uint64_t& putBack)
{
    const std::wstring temp = name + kTemporarySuffix, kept = name + kKeptSuffix;
    // Removed beside every name: where the run copies or patches, its own temporary file replaces the leftover
    // and is installed or deleted in turn.
    CFileDX file;
    if (folder.OpenInstalled(temp, file) == FolderReader::Opened::Yes)
        plan.leftovers.push_back({ToUtf8(temp), "removed"});
    KeptFacts k;
    InstalledBytes keptBytes = facts && facts->keptRead ? facts->kept : ReadInstalled(folder, kept, buffer);
    if (!keptBytes.installed)
        return false;
    uint64_t recorded = 0;
    const bool isRecorded = FindRecordedValue(records, name, recorded);
    const InstalledBytes nameBytes = facts && facts->nameRead ? facts->name : ReadInstalled(folder, name, buffer);
    k.nameStands = facts && facts->nameRead ? nameBytes.installed : folder.Exists(name);
    k.patchedFrom = facts && facts->patchedFromKept;
    // A target identical by its kept original: the original goes back under the name.
    installs = installs && !(facts && facts->identicalFromKept);
    k.keptHasRecorded = isRecorded && keptBytes.checksum == recorded;
    k.nameHasRecorded = isRecorded && nameBytes.installed && nameBytes.checksum == recorded;
    const bool original = KeptIsOriginal(k);
    plan.leftovers.push_back({ToUtf8(kept), !original ? "removed" : installs ? "kept aside" : "put back"});
    putBack = keptBytes.checksum;
    return original && !installs;
}

// The checks before the dry run: the updater and the folder exist, the folder is an installation (held, on
// Windows, as the updater holds it, while it is read), and the package passes verify's checks with names
// resolved in it. 0, or PlanUpdate's 1 or 2 with `error`.
int OpenPlanInputs(const std::wstring& updater, const std::wstring& game, std::unique_ptr<FolderReader>& reader,
                   UpdatePackage& package, EntryTargets& targets, std::vector<uint64_t>& checksums, std::string& error)
{
    if (KindOf(updater) == PathKind::None) {
        error = "no such file: \"" + ToUtf8(updater) + "\"";
        return 2;
    }
    if (KindOf(game) != PathKind::Folder) {
        error = "\"" + ToUtf8(game) + "\" is not a folder";
        return 2;
    }
    reader = OpenFolderReader(game);
    const FolderReader& folder = *reader;
    if (!folder.Exists(kVersionListName) && !folder.Exists(kUninstallListName)) {
        error = "\"" + ToUtf8(game) + "\" is not an installation of the game: it holds neither " +
                ToUtf8(kVersionListName) + " nor " + ToUtf8(kUninstallListName);
        return 2;
    }
    UpdaterContents contents;
    if (!ReadUpdaterFile(updater, contents, error))
        return 1;
    if (!CheckUpdaterFile(updater, &folder, package, targets, checksums, error))
        return 1;
    return 0;
}

// A target of entry `i` shipped whole: decided by the installed file's checksum against its record.
PlannedTarget PlanWholeTarget(const FolderReader& folder, const UpdatePackage& package, const EntryTargets& targets,
                              size_t i, uint64_t checksum, std::vector<unsigned char>& buffer)
{
    PlannedTarget t;
    t.entry = package.entries[i].name;
    t.target = ToUtf8(targets.names[i]);
    t.newSize = ContentSize(package, package.entries[i]);
    t.newChecksum = checksum;
    const InstalledBytes installed = ReadInstalled(folder, targets.names[i], buffer);
    t.installed = installed.installed;
    t.oldSize = installed.size;
    t.oldChecksum = installed.checksum;
    const int r = targets.records[i];
    t.action = r == kNoRecord ? "unchecked" : !t.installed ? "add"
               : t.oldChecksum == package.records[r].value ? "identical" : "replace";
    return t;
}

// Every target in payload order, a target with deltas once (at its first delta), with what was learnt of
// its files while deciding it in `facts`.
void PlanTargets(const FolderReader& folder, const UpdatePackage& package, const EntryTargets& targets,
                 const std::vector<uint64_t>& checksums, const std::vector<PatchTarget>& patchTargets,
                 std::vector<unsigned char>& buffer, std::vector<ReadFacts>& facts, UpdatePlan& plan)
{
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.names[i].empty())
            continue;
        if (const PatchTarget* p = PatchTargetOf(patchTargets, targets.records[i])) {
            if (i == p->deltaEntries.front())
                plan.targets.push_back(PlanPatchTarget(folder, package, targets, *p, buffer,
                                                       facts[static_cast<size_t>(p - patchTargets.data())]));
            continue;
        }
        plan.targets.push_back(PlanWholeTarget(folder, package, targets, i, checksums[i], buffer));
    }
}

// The early word: the version list doubts a target, and its bytes confirm it.
bool ToldEarly(const FolderReader& folder, const UpdatePackage& package, const EntryTargets& targets,
               const std::vector<PatchTarget>& patchTargets, const std::vector<VersionRecord>& installedRecords,
               std::vector<unsigned char>& buffer)
{
    std::string which;
    return BytesShowNotApplicable(package, patchTargets, installedRecords,
                                  [&](const PatchTarget& p, bool kept, InstalledBytes& bytes) {
                                      bytes = ReadInstalled(folder, targets.names[p.deltaEntries.front()] + (kept ? kKeptSuffix : L""), buffer);
                                      return !bytes.unreadable;
                                  },
                                  which);
}

// Leftovers beside every target and every file the installed list records, as the install phase (or, for
// a run that does not apply, the settling of a refused run) judges them. Returns the originals that go
// back, and their checksums.
std::vector<StandingFile> PlanAllLeftovers(const FolderReader& folder, const UpdatePackage& package,
                                           const EntryTargets& targets, const std::vector<PatchTarget>& patchTargets,
                                           const std::vector<ReadFacts>& facts, bool applies,
                                           const std::vector<VersionRecord>& installedRecords,
                                           std::vector<unsigned char>& buffer, UpdatePlan& plan)
{
    std::vector<std::wstring> judged;
    std::vector<StandingFile> standing;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.names[i].empty() || std::any_of(judged.begin(), judged.end(), [&](const std::wstring& t) {
                return SameRelativePath(t, targets.names[i]);
            }))
            continue;
        judged.push_back(targets.names[i]);
        const PatchTarget* p = PatchTargetOf(patchTargets, targets.records[i]);
        const ReadFacts* f = p ? &facts[static_cast<size_t>(p - patchTargets.data())] : nullptr;
        uint64_t value = 0;
        if (PlanLeftovers(folder, targets.names[i], applies, f, installedRecords, buffer, plan, value))
            standing.push_back({targets.names[i], value});
    }
    std::vector<std::wstring> recorded;  // the recorded files judged: the same file under two spellings once
    for (const VersionRecord& r : installedRecords) {
        std::wstring name;
        if (!MultiByteToWide(r.name.c_str(), name))
            continue;
        std::replace(name.begin(), name.end(), L'/', L'\\');
        if (std::any_of(recorded.begin(), recorded.end(), [&](const std::wstring& o) { return SameRelativePath(o, name); }))
            continue;
        recorded.push_back(name);
        const bool isTarget = std::any_of(judged.begin(), judged.end(),
                                          [&](const std::wstring& t) { return SameRecordName(r.name, ToUtf8(t)); });
        // The updater holds the folder itself and the folders on the way to each target: only there does it
        // judge a recorded file's leftovers.
        const size_t cut = name.find_last_of(L'\\');
        const std::wstring parent = cut == std::wstring::npos ? std::wstring() : name.substr(0, cut);
        const bool held = parent.empty() || std::any_of(judged.begin(), judged.end(), [&](const std::wstring& t) {
            return t.size() > parent.size() && t[parent.size()] == L'\\' && SameRelativePath(t.substr(0, parent.size()), parent);
        });
        uint64_t value = 0;
        if (!isTarget && held && IsSafeRelativePath(name) &&
            PlanLeftovers(folder, name, false, nullptr, installedRecords, buffer, plan, value))
            standing.push_back({name, value});
    }
    return standing;
}

// A refused run leaves the version list true of every original it puts back; where the list must change
// but cannot be saved, the originals stay aside instead.
void SettleRefusedList(const FolderReader& folder, const VersionListPlan& installedList,
                       const std::vector<StandingFile>& standing, UpdatePlan& plan)
{
    if (RecordWhatStands(plan.versionList.records, standing)) {
        if (ListIsReplaceable(folder, kVersionListName) &&
            EncodeVersionList(plan.versionList.header, plan.versionList.records, plan.versionList.bytes)) {
            plan.versionList.outcome = VersionListOutcome::Updated;
        } else {
            plan.versionList = installedList;
            plan.versionList.outcome = VersionListOutcome::Unchanged;
            for (PlannedLeftover& l : plan.leftovers)
                if (l.fate == std::string("put back"))
                    l.fate = "left aside";
        }
    }
}

// Where the updater's copy phase stops, walking the entries in payload order as it does: at the first entry
// of a target with deltas whose bytes cannot be read (kResultInstallFailed) or do not apply
// (kResultNotApplicable), or at an entry it copies or patches whose "<target>.tmp" does not fit the path
// buffer below `game` (kResultInstallFailed, `tooLong` true). kResultSuccess when it copies every entry.
uint32_t CopyPhaseStop(const std::wstring& game, const UpdatePackage& package, const EntryTargets& targets,
                       const std::vector<PatchTarget>& patchTargets, const std::vector<ReadFacts>& facts, bool& tooLong)
{
    tooLong = false;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.names[i].empty())
            continue;
        const PatchTarget* p = PatchTargetOf(patchTargets, targets.records[i]);
        const PatchDecision* d = p ? &facts[static_cast<size_t>(p - patchTargets.data())].decision : nullptr;
        if (d && d->choice == PatchChoice::Unreadable)
            return kResultInstallFailed;
        if (d && d->choice == PatchChoice::NotApplicable)
            return kResultNotApplicable;
        // The entries a run copies or patches: every whole target's, and the one its decision took.
        const bool used = !d || (d->choice == PatchChoice::Full && targets.deltas[i] == kNoDelta) ||
                          (d->choice == PatchChoice::Patch && d->deltaEntry == i);
        wchar_t temp[kPathCapacity];
        if (used && !TemporaryPath(game.c_str(), targets.names[i], temp)) {
            tooLong = true;
            return kResultInstallFailed;
        }
    }
    return kResultSuccess;
}

}  // namespace

int PlanUpdate(const std::wstring& updater, const std::wstring& game, UpdatePlan& plan, std::string& error)
{
    std::unique_ptr<FolderReader> reader;
    UpdatePackage package;
    EntryTargets targets;
    std::vector<uint64_t> checksums;
    if (const int code = OpenPlanInputs(updater, game, reader, package, targets, checksums, error))
        return code;
    const FolderReader& folder = *reader;

    plan = UpdatePlan{};
    plan.game = game;
    std::vector<unsigned char> buffer = ToolStreamBuffer();
    const std::vector<PatchTarget> patchTargets = FindPatchTargets(targets);
    std::vector<ReadFacts> facts(patchTargets.size());
    PlanTargets(folder, package, targets, checksums, patchTargets, buffer, facts, plan);
    VersionListPlan installedList;
    const bool listRead = ReadInstalledVersionList(folder, installedList);
    if (!package.deltas.empty() && listRead &&
        ToldEarly(folder, package, targets, patchTargets, installedList.records, buffer))
        plan.asked = false;
    // The updater forms every path below the folder in a buffer of kPathCapacity characters.
    if (game.size() + 1 + wcslen(kVersionListName) >= kPathCapacity) {
        error = "the installation folder's path is too long";
        return 2;
    }
    PlanVersionList(folder, package.records, &targets.names, plan.versionList);
    plan.uninstallListUpdated = PlanUninstallList(folder, targets.names, plan.uninstallList);
    const VersionListOutcome v = plan.versionList.outcome;
    const bool versionListSaved = v == VersionListOutcome::Absent || v == VersionListOutcome::NotAVersionList ||
                                  (v == VersionListOutcome::Updated && ListIsReplaceable(folder, kVersionListName));
    plan.result = ListsResult(versionListSaved, plan.uninstallListUpdated && ListIsReplaceable(folder, kUninstallListName));
    // Told early, the updater decides nothing after the question; else its copy phase may stop before
    // anything is replaced and before any leftover is judged, or find the update does not apply.
    bool applies = plan.asked;
    if (applies) {
        const uint32_t stop = CopyPhaseStop(game, package, targets, patchTargets, facts, plan.temporaryPathTooLong);
        if (stop == kResultInstallFailed) {
            plan.result = stop;
            return 0;
        }
        applies = stop != kResultNotApplicable;
    }
    if (!applies) {
        plan.result = kResultNotApplicable;
        // Neither list is rewritten, but for the record of an original that goes back (below).
        plan.versionList = installedList;
        if (listRead)
            plan.versionList.outcome = VersionListOutcome::Unchanged;
        plan.uninstallListUnchanged = true;
    }
    const std::vector<StandingFile> standing =
        PlanAllLeftovers(folder, package, targets, patchTargets, facts, applies, installedList.records, buffer, plan);
    if (!applies && listRead)
        SettleRefusedList(folder, installedList, standing, plan);
    return 0;
}
