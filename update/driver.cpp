// The update driver. Four phases: copy every entry to "<target>.tmp" beside its target while verifying its
// checksum; only when all are copied, move each over its target, all or nothing; fold the payload's version
// records into the installed "kpx.hvl" and drop records of missing files; add the installed names to
// "uninst.lst". Cancel and close are honoured up to the end of the copy phase; temporary files go on every
// path. Every step returns the result code it ended with: kResultSuccess to go on, anything else to stop.
#include "update/driver.h"

#include <windows.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "install/uninstall_list_update.h"
#include "ui/app_state.h"
#include "ui/message_pump.h"
#include "ui/messages.h"
#include "update/held_installation.h"
#include "update/install_phase.h"
#include "update/list_updates.h"
#include "update/package.h"
#include "update/package_checks.h"
#include "update/progress_view.h"
#include "util/contained_files.h"
#include "util/encoding.h"
#include "util/flush_behind.h"
#include "util/held_folder_reader.h"
#include "util/read_ahead.h"
#include "util/replace_file.h"
#include "util/strings.h"

namespace {

struct UpdateRun {
    HeldInstallation* held;  // the folder and its subfolders, held since before the question
    ProgressView view;
    UpdatePackage package;
    std::vector<std::wstring> targetNames;  // per entry: path below the folder, or empty (nothing installed)
    std::vector<int> records;               // per entry: the version record that verifies it, or kNoRecord
    // Per entry with a target: the held folder it lies in and its name there.
    std::vector<HANDLE> folders;
    std::vector<std::wstring> leaves;
    // Per entry: its temporary file, open from its creation to the rename that installs it.
    std::vector<std::unique_ptr<CFileDX>> temps;
    std::unique_ptr<unsigned char[]> buffer;
    ReadAheadThread reader;  // reads ahead of the copy, one entry after another
};

bool StopRequested() { return g_abortRequested || g_cancelRequested; }

// The code a stop ends with; the flags decide the final code anyway (a cancel outranks an abort).
uint32_t StopCode() { return g_cancelRequested ? kResultCancelled : kResultAborted; }

// Pumps the dialog's messages; a quit turns into an abort. True when the run must stop.
bool PumpAndCheckQuit()
{
    if (PumpMessages()) {
        g_abortRequested = 1;
        return true;
    }
    return false;
}

// How often the dialog is answered while the driver waits for the disk.
const unsigned kPumpIntervalMs = 10;

void ShowStatus(UpdateRun& run, const std::wstring& name)
{
    wchar_t text[kPathCapacity + 256];
    if (FormatWide(text, sizeof text / sizeof text[0], GetMessageText(kMsgInstalling), name.c_str()) >= 0)
        ShowStatusText(run.view, text);
}

// The copy phase's controls are painted at most once a frame, and painted as they ended on every way out.
struct FrozenView {
    explicit FrozenView(ProgressView& v) : view(v) { FreezeProgressView(view); }
    ~FrozenView() { ThawProgressView(view); }
    FrozenView(const FrozenView&) = delete;
    FrozenView& operator=(const FrozenView&) = delete;
    ProgressView& view;
};

// Opens the package, checks it whole before anything is written, makes sure every folder it writes in is
// held, and sets the bars.
uint32_t Prepare(UpdateRun& run, const wchar_t* packagePath)
{
    if (const uint32_t opened = OpenUpdatePackage(run.package, packagePath))
        return opened;
    EntryTargets targets;
    std::string problem;
    const HeldFolderReader folder(run.held->folder);
    if (const uint32_t checked = CheckUpdatePackage(run.package, &folder, targets, problem))
        return checked;
    if (run.held->result != kResultSuccess)
        return run.held->result;
    // The folders were held for the targets of the package as it was read then; every target must still
    // find its folder held.
    run.folders.assign(targets.names.size(), nullptr);
    run.leaves.assign(targets.names.size(), std::wstring());
    for (size_t i = 0; i < targets.names.size(); ++i) {
        if (!targets.names[i].empty() && !(run.folders[i] = FolderOf(*run.held, targets.names[i], run.leaves[i])))
            return kResultInstallFailed;
    }
    run.targetNames.swap(targets.names);
    run.records.swap(targets.records);
    run.temps.resize(run.targetNames.size());
    OpenProgressView(run.view, g_hProgressDlg, static_cast<uint32_t>(run.package.entries.size()));
    PumpAndCheckQuit();
    run.buffer.reset(new (std::nothrow) unsigned char[kReadAheadChunks * kCopyChunk]());
    return run.buffer ? kResultSuccess : kResultInstallFailed;
}

// Streams one entry into its temporary file, the checksum computed on the way: damaged when the package
// runs short, installation failed when a write comes up short.
// A second thread reads the package and takes the checksum a few chunks ahead; this one writes each chunk,
// moves the item bar and pumps the dialog's messages after it, so Cancel answers as fast as ever; the bar
// shows where the entry ended, whatever ended it.
uint32_t StreamChunks(UpdateRun& run, const ArchiveEntry& entry, CFileDX& out, ContentChecksum& checksum)
{
    uint32_t done = 0;
    uint32_t result = kResultSuccess;
    const bool streamed = StreamWithReadAhead(
        run.package.file, entry.size, kCopyChunk, run.buffer.get(),
        [&](const unsigned char* bytes, uint32_t chunk) {
            if (StopRequested())
                result = StopCode();
            else if (out.Write(bytes, chunk) != chunk)
                result = kResultInstallFailed;
            if (result != kResultSuccess)
                return false;
            done += chunk;
            MoveBar(run.view, kItemBar, static_cast<uint32_t>(static_cast<uint64_t>(done) * 65535 / entry.size));
            PaintIfDue(run.view);
            if (PumpAndCheckQuit())
                result = StopCode();
            return result == kResultSuccess;
        },
        [&](const unsigned char* bytes, uint32_t chunk) {
            UpdateContentChecksum(checksum, bytes, chunk);
            return true;
        },
        &run.reader);
    SettleBar(run.view, kItemBar);
    if (result == kResultSuccess && !streamed)
        return kResultDamaged;  // the package ran short
    if (result == kResultSuccess && StopRequested())
        return StopCode();
    return result;
}

// Copies entry i to "<target>.tmp" and compares its checksum with its record's.
// The file stays open, exclusively, until it is renamed into place or deleted.
uint32_t CopyToTemporaryFile(UpdateRun& run, uint32_t i)
{
    // The temporary file's full path must still fit the path buffer, as every path the updater forms.
    wchar_t temp[kPathCapacity];
    if (!TemporaryPath(run.held->folder.c_str(), run.targetNames[i], temp))
        return kResultInstallFailed;
    // Whatever stands at the name, a leftover of an earlier run or a planted link, is removed or replaced,
    // never written through.
    run.temps[i].reset(new CFileDX);
    CFileDX& out = *run.temps[i];
    if (!CreateIn(out, run.folders[i], run.leaves[i] + kTemporarySuffix, run.held->root))
        return kResultInstallFailed;
    ContentChecksum checksum{};
    const uint32_t streamed = StreamChunks(run, run.package.entries[i], out, checksum);
    if (streamed != kResultSuccess)
        return streamed;
    if (StopRequested())
        return StopCode();
    const int record = run.records[i];
    if (record != kNoRecord && StoredChecksum(checksum) != run.package.records[record].value)
        return kResultDamaged;
    return kResultSuccess;
}

// Shows entry i, copies and verifies it unless it is the payload's version list, and counts it done.
uint32_t CopyEntry(UpdateRun& run, uint32_t i)
{
    const ArchiveEntry& entry = run.package.entries[i];
    if (!SeekToEntry(run.package, entry)) {
        g_abortRequested = 1;
        return kResultAborted;
    }
    // The version list's entry shows its own name before it is skipped.
    std::wstring shown = run.targetNames[i];
    if (shown.empty() && !MultiByteToWide(entry.name.c_str(), shown))
        shown.clear();
    ShowStatus(run, shown);
    MoveBar(run.view, kItemBar, 0);
    PaintIfDue(run.view);
    if (PumpAndCheckQuit())
        return StopCode();
    if (!run.targetNames[i].empty()) {
        const uint32_t copied = CopyToTemporaryFile(run, i);
        if (copied != kResultSuccess)
            return copied;
    }
    MoveBar(run.view, kEntriesBar, i + 1);
    PaintIfDue(run.view);
    return PumpAndCheckQuit() ? StopCode() : kResultSuccess;
}

// A rename can reach the disk before the data it names: every temporary file is forced to the disk before
// the first move, or a power cut could leave an archive of zeros under its new name. Each file is flushed
// as soon as it is copied and verified, by a thread of its own, so the disk writes one file while the next
// is copied; the copy phase ends when the last flush has. The dialog answers while the driver waits.
uint32_t CopyAll(UpdateRun& run)
{
    FlushBehind flusher;
    {
        const FrozenView frozen(run.view);
        for (uint32_t i = 0; i < run.package.entries.size(); ++i) {
            if (StopRequested())
                return StopCode();
            const uint32_t copied = CopyEntry(run, i);
            if (copied != kResultSuccess)
                return copied;
            if (run.temps[i])
                flusher.Add(*run.temps[i]);
            if (flusher.Failed())
                return kResultInstallFailed;
        }
    }
    const bool flushed = flusher.Finish([] { return !StopRequested() && !PumpAndCheckQuit(); }, kPumpIntervalMs);
    if (StopRequested())
        return StopCode();
    return flushed ? kResultSuccess : kResultInstallFailed;
}

// Folds the payload's records into the installed list and drops the records of missing files, then saves
// the list once: it is either wholly updated or exactly as it was. A missing list, or one that is not a
// version list, is left alone and is no failure. False when the list is there but cannot be replaced
// (read-only, locked, a full disk, a name that does not fit).
bool UpdateVersionList(UpdateRun& run)
{
    const HeldInstallation& held = *run.held;
    VersionListPlan plan;
    PlanVersionList(HeldFolderReader(held.folder, held.handle.Get(), held.root), run.package.records, nullptr, plan);
    switch (plan.outcome) {
    case VersionListOutcome::Absent:
    case VersionListOutcome::NotAVersionList:
        return true;
    case VersionListOutcome::Updated:
        return ReplaceFileIn(held.handle.Get(), kVersionListName, plan.bytes.data(),
                             static_cast<uint32_t>(plan.bytes.size()), held.root);
    default:
        return false;
    }
}

// Both lists are updated even when one of them fails; either failure is reported.
uint32_t UpdateLists(UpdateRun& run)
{
    const bool versionListSaved = UpdateVersionList(run);
    const bool uninstallListSaved = UpdateUninstallList(run.held->handle.Get(), run.held->root, run.targetNames);
    return ListsResult(versionListSaved, uninstallListSaved);
}

// Deletes, through their own handles, the temporary files that were not installed, and the lists' new files
// that a stopped run may have left.
void DeleteTemporaryFiles(UpdateRun& run)
{
    for (std::unique_ptr<CFileDX>& temp : run.temps) {
        if (temp && temp->IsOpen()) {
            temp->Delete();
            temp->Close();
        }
    }
    if (run.held->result == kResultSuccess) {
        for (const wchar_t* list : {kVersionListName, kUninstallListName})
            RemoveIn(run.held->handle.Get(), std::wstring(list) + kReplacementSuffix, run.held->root);
    }
}

// What the installed version list records for a target (its path below the folder, "\" separators), in
// either separator and any ASCII case.
bool FindRecordedValue(const std::vector<VersionRecord>& records, const std::wstring& target, uint64_t& value)
{
    std::string name;
    if (!WideToMultiByte(target.c_str(), Utf8, name))
        return false;
    for (const VersionRecord& r : records) {
        std::string recorded = r.name;
        std::replace(recorded.begin(), recorded.end(), '/', '\\');
        if (SameArchiveName(recorded, name)) {
            value = r.value;
            return true;
        }
    }
    return false;
}

// The install phase over every copied file, then the lists, then the kept originals go: until the version
// list is saved, a kept original is what the list records, so an interrupted run can be undone.
uint32_t InstallAndUpdateLists(UpdateRun& run)
{
    VersionListPlan installed;
    ReadInstalledVersionList(HeldFolderReader(run.held->folder, run.held->handle.Get(), run.held->root), installed);
    std::vector<PreparedFile> files;
    for (size_t i = 0; i < run.targetNames.size(); ++i) {
        if (run.targetNames[i].empty())
            continue;
        PreparedFile f;
        f.folder = run.folders[i];
        f.name = run.leaves[i];
        f.file = run.temps[i].get();
        f.recorded = FindRecordedValue(installed.records, run.targetNames[i], f.recordedValue);
        files.push_back(std::move(f));
    }
    if (const uint32_t result = InstallTargets(run.held->root, files))
        return result;
    const uint32_t result = UpdateLists(run);
    RemoveKeptOriginals(files);
    // Installed: the handles now reach the installed files, which stay.
    for (std::unique_ptr<CFileDX>& temp : run.temps)
        temp.reset();
    return result;
}

uint32_t RunHeld(UpdateRun& run, const wchar_t* packagePath)
{
    uint32_t result = Prepare(run, packagePath);
    if (result == kResultSuccess)
        result = CopyAll(run);
    if (result == kResultSuccess)
        result = InstallAndUpdateLists(run);  // no pumping and no looking at the flags from here on
    DeleteTemporaryFiles(run);
    return result;
}

}  // namespace

void HoldInstallationFor(const wchar_t* folder, const wchar_t* packagePath, HeldInstallation& held)
{
    // The package is read here only to learn which folders it writes in; it is read and checked again,
    // whole, once the user has said yes. A package that cannot be read holds the folder alone.
    UpdatePackage package;
    EntryTargets targets;
    std::string problem;
    const HeldFolderReader reader(folder);
    if (OpenUpdatePackage(package, packagePath) != kResultSuccess ||
        CheckUpdatePackage(package, &reader, targets, problem) != kResultSuccess)
        targets.names.clear();
    HoldInstallation(folder, targets.names, held);
}

uint32_t RunUpdate(HeldInstallation& held, const wchar_t* packagePath)
{
    UpdateRun run;
    run.held = &held;
    uint32_t result = RunHeld(run, packagePath);
    run.temps.clear();
    run.buffer.reset();
    run.package.file.Close();
    if (g_abortRequested)
        result = kResultAborted;
    if (g_cancelRequested)
        result = kResultCancelled;
    return result;
}

uint32_t RunUpdateFromPackage(const wchar_t* folder, const wchar_t* packagePath)
{
    HeldInstallation held;
    HoldInstallationFor(folder, packagePath, held);
    return RunUpdate(held, packagePath);
}

uint32_t RunUpdate(const wchar_t* folder) { return RunUpdateFromPackage(folder, nullptr); }
