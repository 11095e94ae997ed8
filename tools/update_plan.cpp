// The dry run: the package checks and checksums of verify, then each target's state and both lists as the
// updater would leave them.
#include "tools/update_plan.h"

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "tools/package_reader.h"
#include "update/list_updates.h"
#include "update/package_layout.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/paths.h"
#include "util/strings.h"
#if defined(_WIN32)
#include "util/contained_files.h"
#include "util/held_folder_reader.h"
#else
#include "util/posix_folder_reader.h"
#endif

namespace {

// Size and content checksum of an installed file; false when there is none to read.
bool ReadInstalled(const FolderReader& folder, const std::wstring& name, std::vector<unsigned char>& buffer,
                   uint64_t& size, uint64_t& checksum)
{
    CFileDX file;
    return folder.OpenInstalled(name, file) && (size = file.GetSize()) != 0xFFFFFFFF &&
           ChecksumStream(file, size, buffer, checksum);
}

}  // namespace

int PlanUpdate(const std::wstring& updater, const std::wstring& game, UpdatePlan& plan, std::string& error)
{
    if (KindOf(updater) == PathKind::None) {
        error = "no such file: \"" + ToUtf8(updater) + "\"";
        return 2;
    }
    // The folder is held, as the updater holds it, while it is read.
#if defined(_WIN32)
    std::wstring root;
    UniqueHandle held;
    const bool opened = KindOf(game) == PathKind::Folder && HoldFolderAt(game.c_str(), held, root);
    const HeldFolderReader folder(game, held.Get(), root);
#else
    const bool opened = KindOf(game) == PathKind::Folder;
    const PosixFolderReader folder(game);
#endif
    if (!opened) {
        error = "\"" + ToUtf8(game) + "\" is not a folder";
        return 2;
    }
    if (!folder.Exists(L"kpx.hvl") && !folder.Exists(L"uninst.lst")) {
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
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.names[i].empty())
            continue;
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
    return 0;
}
