// The update driver. Four phases: copy every entry to "<target>.tmp" beside its target while verifying its
// checksum; only when all are copied, move each over its target; fold the payload's version records into
// the installed "kpx.hvl" and drop records of missing files; add the installed names to "uninst.lst".
// Cancel and close are honoured up to the end of the copy phase; temporary files go on every path.
#include "update/driver.h"

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/dialog_ids.h"
#include "app/messages.h"
#include "app/progress_dialog.h"
#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "update/package.h"
#include "update/install_phase.h"
#include "update/list_updates.h"
#include "update/package_checks.h"
#include "util/contained_files.h"
#include "util/encoding.h"
#include "util/relative_path.h"
#include "util/replace_file.h"
#include "util/strings.h"

namespace {

struct UpdateRun {
    const wchar_t* folder;
    std::wstring root;  // the folder's final path, taken once: every file written must lie below it
    HWND status = nullptr;
    HWND itemBar = nullptr;
    HWND totalBar = nullptr;
    UpdatePackage package;
    std::vector<std::wstring> targetNames;  // per entry: path below the folder, or empty (nothing installed)
    std::vector<int> records;               // per entry: the version record that verifies it, or kNoRecord
    std::unique_ptr<unsigned char[]> buffer;
    uint32_t result = kResultDamaged;
};

bool StopRequested() { return g_abortRequested || g_cancelRequested; }

// Pumps the dialog's messages; a quit turns into an abort. True when the run must stop.
bool PumpAndCheckQuit()
{
    if (PumpMessages()) {
        g_abortRequested = 1;
        return true;
    }
    return false;
}

void SetBar(HWND bar, uint32_t position)
{
    if (bar)
        SendMessageW(bar, PBM_SETPOS, position, 0);
}

void ShowStatus(const UpdateRun& run, const std::wstring& name)
{
    wchar_t text[kPathCapacity + 256];
    if (run.status && FormatWide(text, sizeof text / sizeof text[0], GetMessageText(kMsgInstalling), name.c_str()) >= 0)
        SetWindowTextW(run.status, text);
}

bool TempPath(const UpdateRun& run, const std::wstring& target, wchar_t* path)
{
    return TemporaryPath(run.folder, target, path);
}

// Streams one entry into its temporary file. Leaves the result code as it is (damaged) when the package
// runs short, or sets kResultInstallFailed when a write comes up short. True when every byte went through.
bool CopyEntry(UpdateRun& run, const ArchiveEntry& entry, CFileDX& out, ContentChecksum& checksum)
{
    uint32_t done = 0;
    uint32_t chunk = kCopyChunk;
    while (done < entry.size) {
        if (StopRequested())
            return false;
        if (chunk > entry.size - done)
            chunk = entry.size - done;
        if (run.package.file.Read(run.buffer.get(), chunk) != chunk)
            return false;
        UpdateContentChecksum(checksum, run.buffer.get(), chunk);
        if (out.Write(run.buffer.get(), chunk) != chunk) {
            run.result = kResultInstallFailed;
            return false;
        }
        done += chunk;
        SetBar(run.itemBar, static_cast<uint32_t>(static_cast<uint64_t>(done) * 65535 / entry.size));
        if (PumpAndCheckQuit())
            return false;
    }
    return true;
}

// The copy phase. True when every entry was copied and verified and no stop was requested.
bool CopyAll(UpdateRun& run)
{
    const uint32_t count = static_cast<uint32_t>(run.package.entries.size());
    for (uint32_t i = 0; i < count; ++i) {
        const ArchiveEntry& entry = run.package.entries[i];
        if (StopRequested())
            return false;
        if (!SeekToEntry(run.package, entry)) {
            g_abortRequested = 1;
            return false;
        }
        const int record = run.records[i];
        const std::wstring& wideTarget = run.targetNames[i];
        // The version list's entry shows its own name before it is skipped.
        std::wstring shown = wideTarget;
        if (shown.empty() && !MultiByteToWide(entry.name.c_str(), shown))
            shown.clear();
        ShowStatus(run, shown);
        SetBar(run.itemBar, 0);
        if (PumpAndCheckQuit())
            return false;

        if (!wideTarget.empty()) {
            wchar_t temp[kPathCapacity];
            if (!TempPath(run, wideTarget, temp)) {
                run.result = kResultInstallFailed;
                return false;
            }
            // Whatever stands at the name, a leftover of an earlier run or a planted link, is removed or
            // replaced, never written through.
            CFileDX out;
            if (!CreateInside(out, temp, run.root)) {
                run.result = kResultInstallFailed;
                return false;
            }
            ContentChecksum checksum{};
            bool copied = CopyEntry(run, entry, out, checksum);
            // A rename can reach the disk before the data it names: every temporary file is on the disk
            // before the first move, or a power cut could leave an archive of zeros under its new name.
            if (copied && !out.Flush()) {
                run.result = kResultInstallFailed;
                copied = false;
            }
            out.Close();
            if (!copied || StopRequested())
                return false;
            if (record != kNoRecord && StoredChecksum(checksum) != run.package.records[record].value)
                return false;
        }
        SetBar(run.totalBar, i + 1);
        if (PumpAndCheckQuit())
            return false;
    }
    return true;
}

// Folds the payload's records into the installed list and drops the records of missing files, then saves
// the list once: it is either wholly updated or exactly as it was. A missing list, or one that is not a
// version list, is left alone and is no failure. False when the list is there but cannot be replaced
// (read-only, locked, a full disk, a name that does not fit).
bool UpdateVersionList(UpdateRun& run)
{
    VersionListPlan plan;
    wchar_t path[kPathCapacity];
    if (!PlanVersionList(run.folder, run.root, run.package.records, nullptr, plan) ||
        FormatWide(path, kPathCapacity, L"%s\\kpx.hvl", run.folder) < 0)
        return false;
    switch (plan.outcome) {
    case VersionListOutcome::Absent:
    case VersionListOutcome::NotAVersionList:
        return true;
    case VersionListOutcome::Updated:
        return ReplaceFileContents(path, plan.bytes.data(), static_cast<uint32_t>(plan.bytes.size()), run.root);
    default:
        return false;
    }
}

void DeleteTemporaryFiles(const UpdateRun& run)
{
    for (const std::wstring& target : run.targetNames) {
        wchar_t temp[kPathCapacity];
        if (!target.empty() && TempPath(run, target, temp))
            RemoveInside(temp, run.root);
    }
}

}  // namespace

uint32_t RunUpdateFromPackage(const wchar_t* folder, const wchar_t* packagePath)
{
    UpdateRun run;
    run.folder = folder;
    if (g_hProgressDlg) {
        run.status = GetDlgItem(g_hProgressDlg, IDC_STATUS_LINE);
        run.itemBar = GetDlgItem(g_hProgressDlg, IDC_ITEM_BAR);
        run.totalBar = GetDlgItem(g_hProgressDlg, IDC_TOTAL_BAR);
    }
    const uint32_t opened = OpenUpdatePackage(run.package, packagePath);
    EntryTargets targets;
    std::string problem;
    if (opened != 0) {
        run.result = opened;
    } else if ((run.result = CheckUpdatePackage(run.package, folder, targets, problem)) == 0 &&
               (run.result = FinalFolderPath(folder, run.root) ? 0 : kResultInstallFailed) == 0) {
        run.targetNames.swap(targets.names);
        run.records.swap(targets.records);
        run.result = kResultDamaged;
        if (run.itemBar) {
            SendMessageW(run.itemBar, PBM_SETRANGE32, 0, 65535);
            SendMessageW(run.itemBar, PBM_SETPOS, 0, 0);
        }
        if (run.totalBar) {
            SendMessageW(run.totalBar, PBM_SETRANGE32, 0, run.package.entries.size());
            SendMessageW(run.totalBar, PBM_SETPOS, 0, 0);
        }
        PumpAndCheckQuit();
        run.buffer.reset(new (std::nothrow) unsigned char[kCopyChunk]());
        if (!run.buffer) {
            run.result = kResultInstallFailed;
        } else if (CopyAll(run) && !StopRequested()) {
            // No pumping and no looking at the flags from here on.
            bool interrupted = false;
            if (!InstallTargets(folder, run.root, run.targetNames, interrupted)) {
                if (interrupted)
                    return kResultAborted;  // a test's stand-in for a kill: nothing more happens
                run.result = kResultInstallFailed;
            } else {
                // Both lists are updated even when one of them fails; either failure is reported.
                const bool versionListSaved = UpdateVersionList(run);
                const bool uninstallListSaved = UpdateUninstallList(folder, run.targetNames, run.root);
                run.result = versionListSaved && uninstallListSaved ? kResultSuccess : kResultUninstallListFailed;
            }
        }
    }
    DeleteTemporaryFiles(run);
    run.buffer.reset();
    run.package.file.Close();
    if (g_abortRequested)
        run.result = kResultAborted;
    if (g_cancelRequested)
        run.result = kResultCancelled;
    return run.result;
}

uint32_t RunUpdate(const wchar_t* folder) { return RunUpdateFromPackage(folder, nullptr); }
