// The dry run: the package checks and checksums of verify, then each target's state and both lists as the
// updater would leave them.
#include "tools/update_plan.h"

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "tools/package_reader.h"
#include "update/package/list_updates.h"
#include "update/package/package_layout.h"
#include "update/package/patch_targets.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

// Size and content checksum of an installed file; false when there is none to read.
bool ReadInstalled(const FolderReader& folder, const std::wstring& name, std::vector<unsigned char>& buffer,
                   uint64_t& size, uint64_t& checksum)
{
    CFileDX file;
    return folder.OpenInstalled(name, file) && (size = file.GetSize()) != 0xFFFFFFFF &&
           ChecksumStream(file, size, buffer, checksum);
}

// A target with deltas, decided as the updater decides it: by the installed file's bytes, then by the
// original an interrupted run kept aside.
PlannedTarget PlanPatchTarget(const FolderReader& folder, const UpdatePackage& package, const EntryTargets& targets,
                              const PatchTarget& p, std::vector<unsigned char>& buffer)
{
    const size_t first = p.deltaEntries.front();
    PlannedTarget t;
    t.target = ToUtf8(targets.names[first]);
    t.newSize = package.deltas[targets.deltas[first]].targetSize;
    t.newChecksum = package.records[p.record].value;
    PatchDecision d;
    DecidePatch(package, p,
                [&](bool kept, InstalledBytes& bytes) {
                    const std::wstring name = targets.names[first] + (kept ? kKeptSuffix : L"");
                    bytes.installed = ReadInstalled(folder, name, buffer, bytes.size, bytes.checksum);
                    if (!kept) {
                        t.installed = bytes.installed;
                        t.oldSize = bytes.size;
                        t.oldChecksum = bytes.checksum;
                    }
                    return true;
                },
                d);
    if (d.choice == PatchChoice::Patch)
        t.base = ToUtf8(targets.names[first] + (d.fromKept ? kKeptSuffix : L""));
    t.action = PatchChoiceName(d.choice);
    t.entry = d.choice == PatchChoice::Patch ? package.entries[d.deltaEntry].name
              : p.fullEntry >= 0           ? package.entries[static_cast<size_t>(p.fullEntry)].name
                                           : package.entries[first].name;
    return t;
}

}  // namespace

int PlanUpdate(const std::wstring& updater, const std::wstring& game, UpdatePlan& plan, std::string& error)
{
    if (KindOf(updater) == PathKind::None) {
        error = "no such file: \"" + ToUtf8(updater) + "\"";
        return 2;
    }
    // On Windows the folder is held, as the updater holds it, while it is read.
    if (KindOf(game) != PathKind::Folder) {
        error = "\"" + ToUtf8(game) + "\" is not a folder";
        return 2;
    }
    const std::unique_ptr<FolderReader> reader = OpenFolderReader(game);
    const FolderReader& folder = *reader;
    if (!folder.Exists(kVersionListName) && !folder.Exists(kUninstallListName)) {
        error = "\"" + ToUtf8(game) + "\" is not an installation of the game: it holds neither kpx.hvl nor uninst.lst";
        return 2;
    }
    UpdaterContents contents;
    if (!ReadUpdaterFile(updater, contents, error))
        return 1;
    UpdatePackage package;
    EntryTargets targets;
    std::vector<uint64_t> checksums;
    if (!CheckUpdaterFile(updater, &folder, package, targets, checksums, error))
        return 1;

    plan = UpdatePlan{};
    plan.game = game;
    std::vector<unsigned char> buffer = ToolStreamBuffer();
    const std::vector<PatchTarget> patchTargets = FindPatchTargets(targets);
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.names[i].empty())
            continue;
        if (const PatchTarget* p = PatchTargetOf(patchTargets, targets.records[i])) {
            if (i == p->deltaEntries.front())
                plan.targets.push_back(PlanPatchTarget(folder, package, targets, *p, buffer));
            continue;
        }
        PlannedTarget t;
        t.entry = package.entries[i].name;
        t.target = ToUtf8(targets.names[i]);
        t.newSize = package.entries[i].size;
        t.newChecksum = checksums[i];
        t.installed = ReadInstalled(folder, targets.names[i], buffer, t.oldSize, t.oldChecksum);
        const int r = targets.records[i];
        t.action = r == kNoRecord ? "unchecked" : !t.installed ? "add"
                   : t.oldChecksum == package.records[r].value ? "identical" : "replace";
        plan.targets.push_back(t);
    }
    // The updater forms every path below the folder in a buffer of kPathCapacity characters.
    if (game.size() + wcslen(L"\\kpx.hvl") >= kPathCapacity) {
        error = "the installation folder's path is too long";
        return 2;
    }
    PlanVersionList(folder, package.records, &targets.names, plan.versionList);
    plan.uninstallListUpdated = PlanUninstallList(folder, targets.names, plan.uninstallList);
    // A read-only list is not replaced either (Windows refuses to, and so does the updater).
    const VersionListOutcome v = plan.versionList.outcome;
    const bool versionListSaved = v == VersionListOutcome::Absent || v == VersionListOutcome::NotAVersionList ||
                                  (v == VersionListOutcome::Updated && !folder.IsReadOnly(kVersionListName));
    plan.result = ListsResult(versionListSaved, plan.uninstallListUpdated && !folder.IsReadOnly(kUninstallListName));
    for (const PlannedTarget& t : plan.targets)
        if (t.action == PatchChoiceName(PatchChoice::NotApplicable))
            plan.result = kResultNotApplicable;
    return 0;
}
