// The update driver. Four phases: copy every entry to "<target>.tmp" beside its target while verifying its
// checksum; only when all are copied, move each over its target, all or nothing; fold the payload's version
// records into the installed "kpx.hvl" and drop records of missing files; add the installed names to
// "uninst.lst". Cancel and close are honoured up to the end of the copy phase; temporary files go on every
// path. Every step returns the result code it ended with: kResultSuccess to go on, anything else to stop.
// A target with deltas is decided by its installed bytes before its first entry: nothing to do when it is
// the target already, patched into its temporary file when it is a delta's base, copied whole otherwise
// when the package carries it; the patched file is verified as a copied one and installed the same way, and
// the file decided on stays held until the lists are saved. Every delta's own checksum is checked before the
// first copy. What an interrupted run left beside the targets and beside the files the installed version list
// records is judged by the install phase, or settled as the run ends when the update does not apply.
#include "update/run/driver.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "compress/zstd_frame_reader.h"
#include "delta/delta_decoder.h"
#include "update/writer/uninstall_list_update.h"
#include "ui/app_state.h"
#include "ui/message_pump.h"
#include "ui/messages.h"
#include "ui/progress_view.h"
#include "update/package/delta_entry.h"
#include "update/package/entry_content.h"
#include "update/writer/held_installation.h"
#include "update/writer/install_phase.h"
#include "update/package/list_updates.h"
#include "update/package/package.h"
#include "update/package/package_checks.h"
#include "update/package/patch_targets.h"
#include "util/folder/folder_reader_win.h"
#include "util/fs/relative_path.h"
#include "util/held/contained_files.h"
#include "util/held/relative_files.h"
#include "util/held/replace_file.h"
#include "util/io/flush_behind.h"
#include "util/io/read_ahead.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

// What the installed bytes of a target with deltas call for, decided once, before its first entry.
struct DecidedTarget {
    bool made = false;
    PatchChoice choice = PatchChoice::NotApplicable;
    size_t deltaEntry = 0;  // with Patch: the delta to apply...
    bool fromKept = false;  // ...to the target's kept original rather than the target
    // The file decided on (the identical target, or the base), held sharing reading alone from its checksum
    // until the lists are saved: nobody can change, replace or remove it in between.
    std::unique_ptr<CFileDX> held;
    InstalledBytes target, kept;  // what was read of the target and of its kept original
    bool keptRead = false;
};

struct UpdateRun {
    HeldInstallation* held;  // the folder and its subfolders, held since before the question
    ProgressView view;
    UpdatePackage package;
    std::vector<std::wstring> targetNames;  // per entry: path below the folder, or empty (nothing installed)
    std::vector<int> records;               // per entry: the version record that verifies it, or kNoRecord
    std::vector<int> deltas;                // per entry: its delta record, or kNoDelta
    std::vector<PatchTarget> patchTargets;  // the targets with deltas...
    std::vector<DecidedTarget> decisions;        // ...and what each calls for
    // Per entry with a target: the held folder it lies in and its name there.
    std::vector<HANDLE> folders;
    std::vector<std::wstring> leaves;
    // Per entry: its temporary file, open from its creation to the rename that installs it.
    std::vector<std::unique_ptr<CFileDX>> temps;
    std::unique_ptr<unsigned char[]> buffer;
    ReadAheadThread reader;  // reads ahead of the copy, one entry after another
    std::unique_ptr<FolderReader> folder;  // the installation, read through the held handles
    // Decompresses the entries the compression table names, one after another; allocated once, and only for a
    // package that has such entries.
    std::unique_ptr<ZstdFrameReader> frames;
    VersionListPlan versionList;           // "kpx.hvl" as read once, before the install phase
};

bool StopRequested() { return g_abortRequested || g_cancelRequested; }

// What every step returns when the user's cancel or close stopped it. RunUpdate alone turns it, and the flags,
// into the run's code.
const uint32_t kStopped = 0xFFFFFFFFu;

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
// A patched target's item bar: its base's checksum fills the first half, the patch the second.
const uint32_t kBaseBarShare = 32767;

// The dialog answered while the reading thread is busy (a slow disk, a delta window of up to 16 MiB decoded
// with reads of its base all over): false once the run must stop.
bool AnswerWhileWaiting(UpdateRun& run)
{
    PaintIfDue(run.view);
    return !PumpAndCheckQuit() && !StopRequested();
}

void ShowStatus(UpdateRun& run, const std::wstring& name)
{
    wchar_t text[kPathCapacity + 256];
    if (FormatWide(text, sizeof text / sizeof text[0], GetMessageText(kMsgInstalling), name.c_str()) >= 0)
        ShowStatusText(run.view, text);
}

// The copy phase's item bar paints at most once a frame, and the bars show where they ended on every way out.
struct HeldPaints {
    explicit HeldPaints(ProgressView& v) : view(v) { HoldProgressPaints(view); }
    ~HeldPaints() { ReleaseProgressPaints(view); }
    HeldPaints(const HeldPaints&) = delete;
    HeldPaints& operator=(const HeldPaints&) = delete;
    ProgressView& view;
};

// Every delta's own checksum, before anything is written, whether this installation needs the delta or not:
// deltas are small, and a package with a damaged one is damaged whatever is installed. `answer`, when given,
// is asked after every chunk (the dialog answered); false from it stops. kResultDamaged, kStopped or success.
uint32_t CheckDeltaChecksums(UpdatePackage& package, const std::vector<int>& deltas, ZstdFrameReader* frames,
                             unsigned char* buffer, const std::function<bool()>& answer)
{
    for (size_t i = 0; i < deltas.size(); ++i) {
        if (deltas[i] == kNoDelta)
            continue;
        // A compressed delta is decompressed here too: its content's checksum is the delta's.
        EntryContent content(package, package.entries[i], frames);
        if (!content.Begin())
            return kResultDamaged;
        ContentChecksum sum{};
        for (uint32_t left = content.Size(); left > 0;) {
            const uint32_t n = left < kCopyChunk ? left : kCopyChunk;
            if (!content.Read(buffer, n))
                return kResultDamaged;
            UpdateContentChecksum(sum, buffer, n);
            left -= n;
            if (answer && !answer())
                return kStopped;
        }
        if (!content.Finish() || StoredChecksum(sum) != package.deltas[deltas[i]].deltaChecksum)
            return kResultDamaged;
    }
    return kResultSuccess;
}

uint32_t CheckDeltas(UpdateRun& run)
{
    return CheckDeltaChecksums(run.package, run.deltas, run.frames.get(), run.buffer.get(),
                               [&run] { return AnswerWhileWaiting(run); });
}

// Opens the package, checks it whole before anything is written, makes sure every folder it writes in is
// held, and sets the bars.
uint32_t Prepare(UpdateRun& run, const wchar_t* packagePath)
{
    if (const uint32_t opened = OpenUpdatePackage(run.package, packagePath))
        return opened;
    EntryTargets targets;
    std::string problem;
    run.folder = ReadHeldFolder(run.held->folder, run.held->handle.Get(), run.held->root);
    if (const uint32_t checked = CheckUpdatePackage(run.package, run.folder.get(), targets, problem))
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
    run.patchTargets = FindPatchTargets(targets);
    run.decisions.resize(run.patchTargets.size());
    run.targetNames.swap(targets.names);
    run.records.swap(targets.records);
    run.deltas.swap(targets.deltas);
    run.temps.resize(run.targetNames.size());
    OpenProgressView(run.view, g_hProgressDlg, static_cast<uint32_t>(run.package.entries.size()));
    PumpAndCheckQuit();
    run.buffer.reset(new (std::nothrow) unsigned char[kReadAheadChunks * kCopyChunk]());
    if (!run.buffer)
        return kResultInstallFailed;
    if (!run.package.compressed.empty()) {
        run.frames.reset(new (std::nothrow) ZstdFrameReader);
        if (!run.frames || !run.frames->Ready())
            return kResultInstallFailed;
    }
    return CheckDeltas(run);
}

// Streams `length` bytes of `source` (a package entry, or a target decoded from its delta) into a temporary
// file, the checksum computed on the way: kResultInstallFailed when a write comes up short, kStopped on a
// cancel or a close, and `complete` false when the source runs short or fails.
// A second thread reads the source and takes the checksum a few chunks ahead (with `checksumHere`, this one
// does, before each write: the reading thread has a frame to decompress); this one writes each chunk, moves
// the item bar and pumps the dialog's messages after it, so Cancel answers as fast as ever; the bar shows
// where the entry ended, whatever ended it.
uint32_t StreamChunks(UpdateRun& run, const ChunkReader& source, uint64_t length, CFileDX& out, ContentChecksum& checksum,
                      bool& complete, uint32_t barFrom = 0, bool checksumHere = false)
{
    uint64_t done = 0;
    uint32_t result = kResultSuccess;
    const ChunkFunction inspect = [&](const unsigned char* bytes, uint32_t chunk) {
        UpdateContentChecksum(checksum, bytes, chunk);
        return true;
    };
    complete = StreamWithReadAhead(
        source, length, kCopyChunk, run.buffer.get(),
        [&](const unsigned char* bytes, uint32_t chunk) {
            if (checksumHere)
                inspect(bytes, chunk);
            if (StopRequested())
                result = kStopped;
            else if (out.Write(bytes, chunk) != chunk)
                result = kResultInstallFailed;
            if (result != kResultSuccess)
                return false;
            done += chunk;
            MoveBar(run.view, kItemBar, barFrom + static_cast<uint32_t>(done * (65535 - barFrom) / length));
            PaintIfDue(run.view);
            if (PumpAndCheckQuit())
                result = kStopped;
            return result == kResultSuccess;
        },
        checksumHere ? ChunkFunction() : inspect, &run.reader, [&run] { return AnswerWhileWaiting(run); });
    SettleBar(run.view, kItemBar);
    if (result == kResultSuccess && StopRequested())
        return kStopped;
    return result;
}

// Creates entry i's "<target>.tmp", open exclusively until it is renamed into place or deleted.
bool CreateTemporaryFile(UpdateRun& run, uint32_t i)
{
    // The temporary file's full path must still fit the path buffer, as every path the updater forms.
    wchar_t temp[kPathCapacity];
    if (!TemporaryPath(run.held->folder.c_str(), run.targetNames[i], temp))
        return false;
    // Whatever stands at the name, a leftover of an earlier run or a planted link, is removed or replaced,
    // never written through.
    run.temps[i].reset(new CFileDX);
    return CreateOver(*run.temps[i], run.folders[i], run.leaves[i] + kTemporarySuffix, run.held->root) != 0;
}

// Copies entry i to "<target>.tmp" and compares its checksum with its record's.
uint32_t CopyToTemporaryFile(UpdateRun& run, uint32_t i)
{
    if (!CreateTemporaryFile(run, i))
        return kResultInstallFailed;
    CFileDX& out = *run.temps[i];
    ContentChecksum checksum{};
    bool complete = false;
    // The reading thread reads the entry and, for a compressed one, decompresses it and checks the frame on
    // the way; this one writes the content (and checksums it, for a compressed entry).
    EntryContent content(run.package, run.package.entries[i], run.frames.get());
    if (!content.Begin())
        return kResultDamaged;
    const uint32_t streamed = StreamChunks(
        run, [&content](unsigned char* bytes, uint32_t n) { return content.Read(bytes, n); }, content.Size(), out,
        checksum, complete, 0, content.Compressed());
    if (streamed != kResultSuccess)
        return streamed;
    if (!complete || !content.Finish())
        return kResultDamaged;  // the package ran short, or a compressed entry is damaged
    if (StopRequested())
        return kStopped;
    const int record = run.records[i];
    if ((record != kNoRecord && StoredChecksum(checksum) != run.package.records[record].value) ||
        !content.ContentMatches(StoredChecksum(checksum)))
        return kResultDamaged;
    return kResultSuccess;
}

// Reads the file `name` in `folder` to learn whether it can be a delta's base: its size and checksum,
// streamed under the dialog, the item bar moving through its first half. Nothing stands there, for a name
// that is missing, a link of any kind or a file leading outside the folder; `unreadable` for a file that
// stands there but cannot be read. A file read stays open in `file`, sharing reading alone: the bytes checked
// are the bytes patched, or the target left in place, until the lists are saved.
uint32_t ReadInstalled(UpdateRun& run, HANDLE folder, const std::wstring& name, CFileDX& file, InstalledBytes& bytes)
{
    bytes = InstalledBytes();
    // Delete and attribute access too: the install phase renames the original aside through this handle.
    if (!file.Adopt(OpenFileIn(folder, name, GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ))) {
        bytes.unreadable = !IsNotFound(GetLastError());
        return kResultSuccess;
    }
    const uint32_t length = file.GetSize();
    if (!IsInside(file, run.held->root) || !IsItselfIn(file.Handle(), folder, name)) {
        file.Close();
        return kResultSuccess;
    }
    ContentChecksum sum{};
    bool stopped = false;
    unsigned chunks = 0;
    uint64_t done = 0;
    // The second thread reads; this one checksums each chunk, so the two overlap. Nothing is written, and a
    // chunk goes about three times as fast as a copied one: the dialog is answered after every third, about
    // as often as during a copy.
    const bool read = length != 0xFFFFFFFF && StreamWithReadAhead(
        file, length, kCopyChunk, run.buffer.get(),
        [&](const unsigned char* chunk, uint32_t n) {
            UpdateContentChecksum(sum, chunk, n);
            done += n;
            MoveBar(run.view, kItemBar, static_cast<uint32_t>(done * kBaseBarShare / length));
            if (++chunks % 3 == 0) {
                PaintIfDue(run.view);
                stopped = StopRequested() || PumpAndCheckQuit();
            }
            return !stopped;
        },
        nullptr, &run.reader, [&run] { return AnswerWhileWaiting(run); });
    if (stopped || StopRequested())
        return kStopped;
    if (!read || !file.Seek(0)) {
        file.Close();
        bytes.unreadable = true;
        return kResultSuccess;
    }
    bytes.installed = true;
    bytes.size = length;
    bytes.checksum = StoredChecksum(sum);
    return kResultSuccess;
}

// Decides what a target with deltas calls for by the bytes installed: the target itself; or, where an
// interrupted install left the target missing or new, the original it kept aside beside it. A file that
// stands there but cannot be read ends the run: the install could not go on.
uint32_t Decide(UpdateRun& run, const PatchTarget& target, DecidedTarget& decision)
{
    decision.made = true;
    const size_t first = target.deltaEntries.front();
    std::unique_ptr<CFileDX> files[2];  // the target, the kept original: the one decided on stays open
    uint32_t read = kResultSuccess;
    PatchDecision decided;
    if (!DecidePatch(run.package, target,
                     [&](bool kept, InstalledBytes& bytes) {
                         files[kept].reset(new CFileDX);
                         read = ReadInstalled(run, run.folders[first], run.leaves[first] + (kept ? kKeptSuffix : L""),
                                              *files[kept], bytes);
                         (kept ? decision.kept : decision.target) = bytes;
                         decision.keptRead = decision.keptRead || kept;
                         return read == kResultSuccess;
                     },
                     decided))
        return read;
    decision.choice = decided.choice;
    decision.deltaEntry = decided.deltaEntry;
    decision.fromKept = decided.fromKept;
    if (decided.choice == PatchChoice::Unreadable)
        return kResultInstallFailed;
    if (decided.choice == PatchChoice::Patch || decided.choice == PatchChoice::Identical)
        decision.held = std::move(files[decided.fromKept]);
    return kResultSuccess;
}

// Applies delta entry i to the base decided for its target, into "<target>.tmp", and verifies the delta by its
// own checksum and the result by its size and its version record, as a copy is verified. As a copy, the
// second thread produces the target (it decodes the delta against the base) and takes its checksum a few
// chunks ahead; this one writes each chunk, moves the item bar and answers the dialog. A delta that does not
// decode, or does not give the target, is damage: the base was checked before.
uint32_t PatchToTemporaryFile(UpdateRun& run, uint32_t i, DecidedTarget& decision)
{
    if (!CreateTemporaryFile(run, i))
        return kResultInstallFailed;
    CFileDX& out = *run.temps[i];
    const ArchiveEntry& entry = run.package.entries[i];
    const DeltaRecord& record = run.package.deltas[run.deltas[i]];
    EntryContent content(run.package, entry, run.frames.get());
    if (!content.Begin())
        return kResultDamaged;
    DeltaEntryInput input(content);
    DeltaFileBase base(*decision.held, decision.held->GetSize());
    DeltaStream target(input, base);
    ContentChecksum checksum{};
    bool streamed = false;
    const uint32_t result = StreamChunks(
        run, [&target](unsigned char* bytes, uint32_t n) { return target.Read(bytes, n); }, record.targetSize, out,
        checksum, streamed, kBaseBarShare, content.Compressed());
    if (result != kResultSuccess)
        return result;
    const DeltaResult& decoded = target.Result();
    if (!streamed && decoded.error == DeltaError::Io && !input.Failed())
        return kResultInstallFailed;  // the base could not be read
    const bool finished = streamed && target.Finish();
    if (!finished || !input.Finish(run.buffer.get(), kCopyChunk) || input.Checksum() != record.deltaChecksum ||
        StoredChecksum(checksum) != run.package.records[run.records[i]].value)
        return kResultDamaged;
    return kResultSuccess;
}

// The decision of entry i's target, made when its first entry comes (the dialog shows the target meanwhile);
// null for an entry whose target has no deltas.
uint32_t DecisionOf(UpdateRun& run, uint32_t i, DecidedTarget*& decision)
{
    decision = nullptr;
    const PatchTarget* target = PatchTargetOf(run.patchTargets, run.records[i]);
    if (!target)
        return kResultSuccess;
    decision = &run.decisions[static_cast<size_t>(target - run.patchTargets.data())];
    if (decision->made)
        return kResultSuccess;
    ShowStatus(run, run.targetNames[i]);
    MoveBar(run.view, kItemBar, 0);
    PaintIfDue(run.view);
    return Decide(run, *target, *decision);
}

// True when entry i does any work: a copy, or the patch decided for its target.
bool EntryIsUsed(const UpdateRun& run, uint32_t i, const DecidedTarget* decision)
{
    if (!decision)
        return true;
    switch (decision->choice) {
    case PatchChoice::Full:
        return run.deltas[i] == kNoDelta;
    case PatchChoice::Patch:
        return decision->deltaEntry == i;
    default:
        return false;
    }
}

// Shows entry i, copies or patches it unless it is the payload's version list or its target needs nothing
// of it, and counts it done. A delta or a whole file its target does not use is not shown.
uint32_t CopyEntry(UpdateRun& run, uint32_t i)
{
    const ArchiveEntry& entry = run.package.entries[i];
    DecidedTarget* decision = nullptr;
    if (!run.targetNames[i].empty()) {
        if (const uint32_t decided = DecisionOf(run, i, decision))
            return decided;
        if (decision && decision->choice == PatchChoice::NotApplicable)
            return kResultNotApplicable;
    }
    const bool used = !run.targetNames[i].empty() && EntryIsUsed(run, i, decision);
    if (used || run.targetNames[i].empty()) {
        if (!SeekToEntry(run.package, entry))
            return kResultAborted;
        // The version list's entry shows its own name before it is skipped.
        std::wstring shown = run.targetNames[i];
        if (shown.empty() && !MultiByteToWide(entry.name.c_str(), shown))
            shown.clear();
        ShowStatus(run, shown);
        if (!decision || decision->choice != PatchChoice::Patch)
            MoveBar(run.view, kItemBar, 0);
        PaintIfDue(run.view);
        if (PumpAndCheckQuit())
            return kStopped;
    }
    if (used) {
        const uint32_t made = decision && decision->choice == PatchChoice::Patch ? PatchToTemporaryFile(run, i, *decision)
                                                                                 : CopyToTemporaryFile(run, i);
        if (made != kResultSuccess)
            return made;
    }
    MoveBar(run.view, kEntriesBar, i + 1);
    PaintIfDue(run.view);
    return PumpAndCheckQuit() ? kStopped : kResultSuccess;
}

// A rename can reach the disk before the data it names: every temporary file is forced to the disk before
// the first move, or a power cut could leave an archive of zeros under its new name. Each file is flushed
// as soon as it is copied and verified, by a thread of its own, so the disk writes one file while the next
// is copied; the copy phase ends when the last flush has. The dialog answers while the driver waits.
uint32_t CopyAll(UpdateRun& run)
{
    FlushBehind flusher;
    {
        const HeldPaints paints(run.view);
        for (uint32_t i = 0; i < run.package.entries.size(); ++i) {
            if (StopRequested())
                return kStopped;
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
        return kStopped;
    return flushed ? kResultSuccess : kResultInstallFailed;
}

// Replaces the installed "kpx.hvl" with `bytes`, where the list may be replaced: the one way either kind of
// run saves it.
bool SaveVersionList(const HeldInstallation& held, const FolderReader& folder, const std::vector<unsigned char>& bytes)
{
    return ListIsReplaceable(folder, kVersionListName) &&
           ReplaceFileIn(held.handle.Get(), kVersionListName, bytes.data(), static_cast<uint32_t>(bytes.size()), held.root);
}

// Folds the payload's records into the installed list read before the install (`read`: it was) and drops
// the records of missing files, then saves the list once: it is either wholly updated or exactly as it was.
// A missing list, or one that is not a version list, is left alone and is no failure. False when the list
// is there but cannot be replaced (read-only, locked, a full disk, a name that does not fit).
bool UpdateVersionList(UpdateRun& run, bool read)
{
    const HeldInstallation& held = *run.held;
    VersionListPlan& plan = run.versionList;
    if (read)
        CompleteVersionListPlan(*run.folder, run.package.records, nullptr, plan);
    switch (plan.outcome) {
    case VersionListOutcome::Absent:
    case VersionListOutcome::NotAVersionList:
    case VersionListOutcome::Unchanged:
        return true;
    case VersionListOutcome::Updated:
        return SaveVersionList(held, *run.folder, plan.bytes);
    default:
        return false;
    }
}

// Both lists are updated even when one of them fails; either failure is reported.
uint32_t UpdateLists(UpdateRun& run, bool versionListRead)
{
    const bool versionListSaved = UpdateVersionList(run, versionListRead);
    const bool uninstallListSaved = UpdateUninstallList(run.held->handle.Get(), run.held->root, run.targetNames);
    return ListsResult(versionListSaved, uninstallListSaved);
}

// Deletes, through their own handles, the temporary files that were not installed, and the lists' new files
// that a stopped run may have left.
void DeleteTemporaryFiles(UpdateRun& run)
{
    for (std::unique_ptr<CFileDX>& temp : run.temps) {
        if (temp && temp->IsOpen()) {
            DeleteWhenClosed(*temp);
            temp->Close();
        }
    }
    if (run.held->result == kResultSuccess) {
        for (const wchar_t* list : kReplacedLists)
            RemoveIn(run.held->handle.Get(), ReplacementName(list), run.held->root);
    }
}

// What a target's patch decision read and holds, handed to the install phase: the judgement of its kept
// file then rests on the same reading. A target identical by its kept original (nothing at its name) is not
// installed by a move: the original goes back.
void TakeDecision(DecidedTarget& decision, PreparedFile& f)
{
    f.nameRead = true;
    f.nameStands = decision.target.installed;
    f.nameChecksum = decision.target.checksum;
    f.keptRead = decision.keptRead;
    f.keptStands = decision.kept.installed;
    f.keptChecksum = decision.kept.checksum;
    const bool decidedOnBytes = decision.choice == PatchChoice::Patch || decision.choice == PatchChoice::Identical;
    f.patchedFromKept = decidedOnBytes && decision.fromKept;
    f.installs = f.installs && !(decision.choice == PatchChoice::Identical && decision.fromKept);
    f.decided = std::move(decision.held);
}

// Entry i's target as the install phase takes it: `file` to move into place (null when the installed file
// is the target already), what the installed list records for it, whether an original is kept aside, and
// what the patch decision read and holds.
PreparedFile PreparedTarget(UpdateRun& run, size_t i, CFileDX* file, DecidedTarget* decision)
{
    PreparedFile f;
    f.folder = run.folders[i];
    f.name = run.leaves[i];
    f.file = file;
    f.keptListed = Listed(*run.folder, run.targetNames[i] + kKeptSuffix);
    f.tempListed = !file && Listed(*run.folder, run.targetNames[i] + kTemporarySuffix);
    f.recorded = FindRecordedValue(run.versionList.records, run.targetNames[i], f.recordedValue);
    if (decision && decision->made)
        TakeDecision(*decision, f);
    return f;
}

// The files of the installed version list that are no target of the package, in the folders the run holds:
// an interrupted run of another package may have left its own files beside them. Nothing moves there.
void AddRecordedFiles(const HeldInstallation& held, const FolderReader& folder, const std::vector<VersionRecord>& records,
                      const std::vector<std::wstring>& targets, std::vector<PreparedFile>& files)
{
    for (const VersionRecord& r : records) {
        std::wstring name;
        if (!MultiByteToWide(r.name.c_str(), name))
            continue;
        std::replace(name.begin(), name.end(), L'/', L'\\');
        const bool isTarget = std::any_of(targets.begin(), targets.end(), [&](const std::wstring& t) {
            return !t.empty() && SameRecordName(r.name, ToUtf8(t));
        });
        PreparedFile f;
        if (isTarget || !IsSafeRelativePath(name) || !(f.folder = FolderOf(held, name, f.name)))
            continue;
        // The same file recorded twice, under two spellings, is settled once.
        if (std::any_of(files.begin(), files.end(),
                        [&](const PreparedFile& o) { return o.folder == f.folder && SameRelativePath(o.name, f.name); }))
            continue;
        f.file = nullptr;
        f.path = name;
        f.installs = false;
        f.keptListed = Listed(folder, name + kKeptSuffix);
        f.tempListed = Listed(folder, name + kTemporarySuffix);
        f.recorded = true;
        f.recordedValue = r.value;
        if (f.keptListed || f.tempListed)
            files.push_back(std::move(f));
    }
}

// The install phase over every copied file, then the lists, then the kept originals go: until the version
// list is saved, a kept original is what the list records, so an interrupted run can be undone.
uint32_t InstallAndUpdateLists(UpdateRun& run)
{
    const bool versionListRead = ReadInstalledVersionList(*run.folder, run.versionList);
    std::vector<PreparedFile> files;
    for (size_t i = 0; i < run.targetNames.size(); ++i) {
        if (run.targetNames[i].empty() || !run.temps[i])
            continue;
        const PatchTarget* target = PatchTargetOf(run.patchTargets, run.records[i]);
        files.push_back(PreparedTarget(run, i, run.temps[i].get(),
                                       target ? &run.decisions[static_cast<size_t>(target - run.patchTargets.data())] : nullptr));
    }
    // A target installed already has nothing to move; what an interrupted run kept aside beside it is judged
    // and settled as for any other.
    for (size_t t = 0; t < run.patchTargets.size(); ++t) {
        if (run.decisions[t].choice == PatchChoice::Identical)
            files.push_back(PreparedTarget(run, run.patchTargets[t].deltaEntries.front(), nullptr, &run.decisions[t]));
    }
    AddRecordedFiles(*run.held, *run.folder, run.versionList.records, run.targetNames, files);
    if (const uint32_t result = InstallTargets(run.held->root, files))
        return result;
    const uint32_t result = UpdateLists(run, versionListRead);
    RemoveKeptOriginals(files);
    // Installed: the handles now reach the installed files, which stay.
    for (std::unique_ptr<CFileDX>& temp : run.temps)
        temp.reset();
    return result;
}

// What the early word reads of an installed file, before the question and without the dialog: its size and
// checksum when it is a plain file of its own inside the folder. False when it cannot be read: the run then
// decides under the dialog.
bool ReadForEarlyWord(const FolderReader& folder, const std::wstring& name, InstalledBytes& bytes)
{
    bytes = InstalledBytes();
    CFileDX file;
    const FolderReader::Opened opened = folder.OpenInstalled(name, file);
    if (opened == FolderReader::Opened::Missing)
        return true;
    std::vector<unsigned char> buffer(kCopyChunk);
    const uint32_t size = opened == FolderReader::Opened::Yes ? file.GetSize() : 0xFFFFFFFF;
    if (size == 0xFFFFFFFF || !ChecksumFromFile(file, size, buffer.data(), kCopyChunk, bytes.checksum))
        return false;
    bytes.installed = true;
    bytes.size = size;
    return true;
}

// What a refused run's settling takes of a target with deltas: its decision, made here by the bytes the
// early word reads when none was made yet, handed to `f`. Nothing is patched and nothing installs: the file
// decided on is held no longer, so that an original may go back over it.
void TakeRefusedDecision(const FolderReader& folder, const UpdatePackage& package, const std::wstring& target,
                         const PatchTarget& p, DecidedTarget& d, PreparedFile& f)
{
    PatchDecision decided;
    if (!d.made && DecidePatch(package, p,
                               [&](bool kept, InstalledBytes& bytes) {
                                   const bool read = ReadForEarlyWord(folder, target + (kept ? kKeptSuffix : L""), bytes);
                                   (kept ? d.kept : d.target) = bytes;
                                   d.keptRead = d.keptRead || kept;
                                   return read;
                               },
                               decided)) {
        d.made = true;
        d.choice = decided.choice;
        d.fromKept = decided.fromKept;
    }
    d.held.reset();
    if (d.made)
        TakeDecision(d, f);
    f.installs = false;
}

// A run that does not apply replaces nothing, but what an interrupted run left beside the targets and the
// recorded files is settled all the same, by the install phase's rule: originals back under their names,
// the rest removed. A target no decision was made for yet is decided here, by its bytes read through the
// held folder, as the early word reads them. Where an original goes back whose bytes the installed version
// list does not record, the list takes its checksum first, so that it stays true of every file.
void SettleRefusedRun(const HeldInstallation& held, const FolderReader& folder, const UpdatePackage& package,
                      const std::vector<std::wstring>& targets, const std::vector<int>& records,
                      const std::vector<PatchTarget>& patchTargets, std::vector<DecidedTarget>* decisions)
{
    VersionListPlan list;
    const bool listRead = ReadInstalledVersionList(folder, list);
    std::vector<PreparedFile> files;
    for (size_t i = 0; i < targets.size(); ++i) {
        PreparedFile f;
        if (targets[i].empty() || !(f.folder = FolderOf(held, targets[i], f.name)))
            continue;
        f.path = targets[i];
        if (std::any_of(files.begin(), files.end(),
                        [&](const PreparedFile& o) { return o.folder == f.folder && SameRelativePath(o.name, f.name); }))
            continue;
        f.installs = false;
        f.keptListed = Listed(folder, targets[i] + kKeptSuffix);
        f.tempListed = Listed(folder, targets[i] + kTemporarySuffix);
        f.recorded = FindRecordedValue(list.records, targets[i], f.recordedValue);
        if (const PatchTarget* p = PatchTargetOf(patchTargets, records[i])) {
            DecidedTarget own;
            TakeRefusedDecision(folder, package, targets[i], *p,
                                decisions ? (*decisions)[static_cast<size_t>(p - patchTargets.data())] : own, f);
        }
        if (f.keptListed || f.tempListed)
            files.push_back(std::move(f));
    }
    AddRecordedFiles(held, folder, list.records, targets, files);
    SettleLeftovers(held.root, files);
    // The list records each original before it goes back: a run stopped in between finds it aside with the
    // recorded checksum, the original by the leftover rule, and puts it back the same.
    std::vector<StandingFile> standing;
    for (const PreparedFile& f : files) {
        if (f.putBack && f.keptStands)
            standing.push_back({f.path, f.keptChecksum});
    }
    // A list that must change but cannot be saved (read-only, locked, a full disk) keeps the originals aside,
    // where the next run judges them by the same rule, rather than leave it recording other bytes for good.
    std::vector<unsigned char> bytes;
    const bool listTrue = !listRead || !RecordWhatStands(list.records, standing) ||
                          (EncodeVersionList(list.header, list.records, bytes) && SaveVersionList(held, folder, bytes));
    if (listTrue)
        PutBackOriginals(files);
}

// The run's phases in their order: the package checked and the targets decided, every entry copied and
// verified, the install and the lists; then what is left of ours goes, and a refused run settles leftovers.
uint32_t RunPhases(UpdateRun& run, const wchar_t* packagePath)
{
    uint32_t result = Prepare(run, packagePath);
    if (result == kResultSuccess)
        result = CopyAll(run);
    if (result == kResultSuccess)
        result = InstallAndUpdateLists(run);  // no pumping and no looking at the flags from here on
    DeleteTemporaryFiles(run);
    if (result == kResultNotApplicable)
        SettleRefusedRun(*run.held, *run.folder, run.package, run.targetNames, run.records, run.patchTargets,
                         &run.decisions);
    return result;
}

}  // namespace

void HoldInstallationFor(const wchar_t* folder, const wchar_t* packagePath, HeldInstallation& held)
{
    // The package is read here only to learn which folders it writes in; it is read and checked again,
    // whole, once the user has said yes. The installation folder is held first and read through that
    // handle alone. A package that cannot be read holds the folder alone.
    UpdatePackage package;
    EntryTargets targets;
    std::string problem;
    bool doesNotApply = false;
    if (HoldInstallationFolder(folder, held)) {
        const auto reader = ReadHeldFolder(folder, held.handle.Get(), held.root);
        VersionListPlan installed;
        if (OpenUpdatePackage(package, packagePath) != kResultSuccess ||
            CheckUpdatePackage(package, reader.get(), targets, problem) != kResultSuccess) {
            targets.names.clear();
        } else if (!package.deltas.empty() && ReadInstalledVersionList(*reader, installed)) {
            // Told early only about a sound package: a damaged one is refused as damaged after the question,
            // before anything is written. A compressed delta's checksum is its content's: its frame is read
            // here too.
            std::unique_ptr<ZstdFrameReader> frames;
            if (!package.compressed.empty())
                frames.reset(new (std::nothrow) ZstdFrameReader);
            if (CheckDeltaChecksums(package, targets.deltas, frames.get(), std::vector<unsigned char>(kCopyChunk).data(),
                                    nullptr) == kResultSuccess)
                doesNotApply = BytesShowNotApplicable(package, FindPatchTargets(targets), installed.records,
                                                      [&](const PatchTarget& t, bool kept, InstalledBytes& bytes) {
                                                          return ReadForEarlyWord(*reader, targets.names[t.deltaEntries.front()] + (kept ? kKeptSuffix : L""), bytes);
                                                      },
                                                      problem);
        }
    }
    HoldInstallation(folder, targets.names, held);
    held.doesNotApply = doesNotApply;
    // Told rather than asked: nothing is replaced, but what an interrupted run left is settled.
    if (doesNotApply && held.result == kResultSuccess)
        SettleRefusedRun(held, *ReadHeldFolder(folder, held.handle.Get(), held.root), package, targets.names,
                         targets.records, FindPatchTargets(targets), nullptr);
}

uint32_t RunUpdate(HeldInstallation& held, const wchar_t* packagePath)
{
    UpdateRun run;
    run.held = &held;
    uint32_t result = RunPhases(run, packagePath);
    run.temps.clear();
    run.buffer.reset();
    run.package.file.Close();
    // The one place a stop becomes a code: a cancel outranks an abort (a close or a quit), and either
    // outranks whatever the run had come to.
    if (g_cancelRequested)
        result = kResultCancelled;
    else if (g_abortRequested || result == kStopped)
        result = kResultAborted;
    return result;
}

uint32_t HoldAndRunUpdate(const wchar_t* folder, const wchar_t* packagePath)
{
    HeldInstallation held;
    HoldInstallationFor(folder, packagePath, held);
    // Told early, the program runs nothing more (the entry's HoldAndAsk): neither does this.
    return held.doesNotApply ? kResultNotApplicable : RunUpdate(held, packagePath);
}
