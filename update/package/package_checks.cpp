// Package checks: everything that can be known to be wrong with a package before any of it is copied.
#include "update/package/package_checks.h"

#include <algorithm>
#include <map>
#include <cwchar>

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "update/package/list_updates.h"
#include "util/folder/folder_reader.h"
#include "util/fs/relative_path.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

// The path a relative name reaches in the installation, every part that exists in its long form; without
// an installation, the name as it is.
std::wstring ResolvedName(const FolderReader* folder, const std::wstring& name)
{
    return folder ? folder->LongName(name) : name;
}

// Beside each target the updater writes its temporary file, the temporary file's replacement when a link
// stands at that name, and the original kept aside.
const std::wstring kHelperSuffixes[] = {kTemporarySuffix, ReplacementName(kTemporarySuffix), kKeptSuffix};

bool EndsWithKeptSuffix(const std::wstring& name)
{
    const size_t n = wcslen(kKeptSuffix);
    return name.size() >= n && SameTextIgnoringCase(name.data() + name.size() - n, n, kKeptSuffix, n);
}

uint32_t Damaged(std::string& problem, const std::string& text)
{
    problem = text;
    return kResultDamaged;
}

// The version record of a delta's target: the same file as Windows resolves the name (SameRecordName).
int FindRecordByName(const UpdatePackage& package, const std::string& target)
{
    const size_t n = std::min<size_t>(package.versionHeader.count, package.records.size());
    for (size_t r = 0; r < n; ++r) {
        if (SameRecordName(package.records[r].name, target))
            return static_cast<int>(r);
    }
    return kNoRecord;
}

// Entries i and j are one target's alternatives: a delta and another delta or the whole file of one record.
bool IsAlternative(const EntryTargets& t, size_t i, size_t j)
{
    return t.records[i] != kNoRecord && t.records[i] == t.records[j] && (t.deltas[i] != kNoDelta || t.deltas[j] != kNoDelta);
}

}  // namespace

bool TemporaryPath(const wchar_t* folder, const std::wstring& target, wchar_t* path)
{
    return FormatWide(path, kPathCapacity, L"%s\\%s%s", folder, target.c_str(), kTemporarySuffix) >= 0;
}

namespace {

// What the entry checks build up, entry by entry, in index order: each entry's target so far, which delta
// and version records an entry carried, and every name reached with the first entry that reached it.
struct TargetsInProgress {
    const UpdatePackage& package;
    const FolderReader* folder;
    EntryTargets out;
    std::vector<bool> deltaUsed, recordUsed;
    std::vector<std::wstring> listHelpers;  // the names the lists are rewritten through, as they resolve
    std::map<std::wstring, size_t> owners;  // every name reached so far (RelativePathKey), and its first entry
    RecordsByFileName byFileName;

    TargetsInProgress(const UpdatePackage& p, const FolderReader* f)
        : package(p), folder(f), deltaUsed(p.deltas.size(), false), recordUsed(p.records.size(), false),
          byFileName(p.records, p.versionHeader.count)
    {
        const size_t count = p.entries.size();
        out.names.assign(count, std::wstring());
        out.records.assign(count, kNoRecord);
        out.deltas.assign(count, kNoDelta);
        for (const wchar_t* list : kReplacedLists)
            for (const std::wstring& helper : ReplacementNames(list))
                listHelpers.push_back(ResolvedName(folder, helper));
    }
};

// The version record that verifies entry `e` (kNoRecord: none), and its delta record when it is a delta,
// which must name a target with a matching version record.
uint32_t FindRecords(TargetsInProgress& t, const ArchiveEntry& e, EntryKind kind, int& delta, int& record,
                     std::string& problem)
{
    delta = kind == EntryKind::Delta ? DeltaRecordOf(t.package, e.name) : kNoDelta;
    if (delta == kNoDelta) {
        record = t.byFileName.Find(e.name);
        return kResultSuccess;
    }
    const DeltaRecord& d = t.package.deltas[delta];
    if (t.deltaUsed[delta])
        return Damaged(problem, "entry \"" + e.name + "\" is named by two delta records");
    t.deltaUsed[delta] = true;
    record = FindRecordByName(t.package, d.target);
    if (record == kNoRecord)
        return Damaged(problem, "delta \"" + e.name + "\": its target \"" + d.target + "\" has no version record");
    if (d.targetSize >= 0x100000000ull)
        return Damaged(problem, "delta \"" + e.name + "\": its target is 4 GiB or larger");
    // Without this the version record of a file shipped as deltas alone could be damaged unseen until a
    // base was at hand.
    if (d.targetChecksum != t.package.records[record].value)
        return Damaged(problem, "delta \"" + e.name + "\": the version record of \"" + d.target +
                                    "\" holds another checksum than the delta gives");
    return kResultSuccess;
}

// Entry i's install path `target`: inside the folder, not a name the updater keeps originals under or
// rewrites the lists through, and no file another entry reaches (but for one target's alternatives).
uint32_t CheckTarget(TargetsInProgress& t, size_t i, const std::string& target, std::string& problem)
{
    const ArchiveEntry& e = t.package.entries[i];
    std::wstring& name = t.out.names[i];
    // The program runs elevated: a name that could leave the installation folder is damage.
    if (!MultiByteToWide(target.c_str(), name) || !IsSafeRelativePath(name))
        return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                    "\" leaves the installation folder");
    for (wchar_t& c : name)
        if (c == L'/')
            c = L'\\';
    // The target and the names the updater writes beside it, as they resolve in the installation.
    const std::wstring resolved = ResolvedName(t.folder, name);
    std::vector<std::wstring> reached;
    for (const std::wstring& suffix : kHelperSuffixes)
        reached.push_back(ResolvedName(t.folder, name + suffix));
    // The install phase keeps each original aside under that name while it replaces it.
    if (EndsWithKeptSuffix(name) || EndsWithKeptSuffix(resolved))
        return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                    "\" ends in \"" + ToUtf8(kKeptSuffix) +
                                    "\", the name the updater keeps replaced files under");
    // The lists are rewritten through files of their own beside them.
    for (const std::wstring& listHelper : t.listHelpers)
        if (SameRelativePath(resolved, listHelper))
            return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                        "\" is a name the updater writes the installation's lists through");
    // Two entries for one file would fail the second move after the first had replaced the file; a target
    // that is another entry's temporary file would let the moves swap their bytes. Each name an entry
    // reaches (its target and the names beside it) is kept under its key with the first entry that reached
    // it; one target's alternatives share theirs.
    reached.push_back(resolved);
    size_t clash = i;
    for (std::wstring& r : reached) {
        r = RelativePathKey(r);
        const auto owner = t.owners.find(r);
        if (owner != t.owners.end() && !IsAlternative(t.out, i, owner->second))
            clash = std::min(clash, owner->second);
    }
    if (clash != i)
        return Damaged(problem, "entries \"" + t.package.entries[clash].name + "\" and \"" + e.name +
                                    "\" reach the same file (\"" + ToUtf8(t.out.names[clash]) + "\", \"" +
                                    ToUtf8(name) + "\")");
    for (std::wstring& r : reached)
        t.owners.emplace(std::move(r), i);
    return kResultSuccess;
}

// Every delta record and every version record carried by an entry.
uint32_t CheckAllCarried(const TargetsInProgress& t, std::string& problem)
{
    for (size_t d = 0; d < t.deltaUsed.size(); ++d) {
        if (!t.deltaUsed[d])
            return Damaged(problem, "delta record of \"" + t.package.deltas[d].target + "\" names no entry of the payload (\"" +
                                        t.package.deltas[d].entry + "\")");
    }
    for (size_t r = 0; r < t.recordUsed.size(); ++r) {
        if (!t.recordUsed[r])
            return Damaged(problem, "version record \"" + t.package.records[r].name + "\" names no entry of the payload");
    }
    return kResultSuccess;
}

// Every compression record names one entry that is installed (a whole file or a delta) and no other record
// names; its stored size is the entry's, its content fits an installed file, and its content checksum is the one
// the content is verified by: the target's version record, or the delta's own checksum.
uint32_t CheckCompressed(const TargetsInProgress& t, std::string& problem)
{
    const UpdatePackage& package = t.package;
    std::vector<bool> named(package.entries.size(), false);
    for (const CompressionRecord& c : package.compressed) {
        const std::string what = "compressed entry \"" + c.entry + "\": ";
        size_t i = 0;
        while (i < package.entries.size() && !SameArchiveName(package.entries[i].name, c.entry))
            ++i;
        if (i == package.entries.size())
            return Damaged(problem, what + "no entry of the payload has that name");
        if (t.out.names[i].empty())
            return Damaged(problem, what + "only a file or a delta is stored compressed");
        if (named[i])
            return Damaged(problem, what + "two compression records name it");
        named[i] = true;
        if (c.storedSize != StoredSize(package.entries[i]))
            return Damaged(problem, what + "its record's stored size is not the entry's");
        if (c.contentSize >= 0x100000000ull)
            return Damaged(problem, what + "its content is 4 GiB or larger");
        const int delta = t.out.deltas[i], record = t.out.records[i];
        const bool checksumKnown = delta != kNoDelta || record != kNoRecord;
        const uint64_t expected = delta != kNoDelta ? package.deltas[delta].deltaChecksum
                                                    : record != kNoRecord ? package.records[record].value : 0;
        if (checksumKnown && c.contentChecksum != expected)
            return Damaged(problem, what + "its record's content checksum is not the one " +
                                        (delta != kNoDelta ? "the delta table" : "its version record") + " holds");
    }
    return kResultSuccess;
}

}  // namespace

uint32_t CheckUpdatePackage(UpdatePackage& package, const FolderReader* folder, EntryTargets& targets,
                            std::string& problem)
{
    if (LoadPayloadVersionList(package) != kResultSuccess)
        return Damaged(problem, std::string("the payload's version list \"") + kPayloadVersionListName + "\" is damaged");
    std::string fault;
    if (LoadPayloadDeltaTable(package, fault) != kResultSuccess)
        return Damaged(problem, std::string("the payload's delta table \"") + kDeltaTableName + "\" is damaged: " + fault);
    if (LoadPayloadCompressionTable(package, fault) != kResultSuccess)
        return Damaged(problem, std::string("the payload's compression table \"") + kCompressionTableName +
                                    "\" is damaged: " + fault);
    TargetsInProgress t(package, folder);
    for (size_t i = 0; i < package.entries.size(); ++i) {
        const ArchiveEntry& e = package.entries[i];
        if (!EntryInsideFile(package, e))
            return Damaged(problem, "entry \"" + e.name + "\": its data runs past the end of the file (truncated?)");
        const EntryKind kind = KindOfEntry(package, e.name);
        if (kind == EntryKind::DeltaTable || kind == EntryKind::CompressionTable)
            continue;  // the payload's tables are read, not installed
        int delta = kNoDelta, record = kNoRecord;
        if (const uint32_t r = FindRecords(t, e, kind, delta, record, problem))
            return r;
        const std::string& target = record == kNoRecord ? e.name : package.records[record].name;
        if (SameArchiveName(target, kVersionListKey))
            continue;  // the payload's version list is merged, not installed as a file
        t.out.deltas[i] = delta;
        t.out.records[i] = record;
        if (record != kNoRecord)
            t.recordUsed[record] = true;
        if (const uint32_t r = CheckTarget(t, i, target, problem))
            return r;
    }
    if (const uint32_t r = CheckAllCarried(t, problem))
        return r;
    if (const uint32_t r = CheckCompressed(t, problem))
        return r;
    targets.names.swap(t.out.names);
    targets.records.swap(t.out.records);
    targets.deltas.swap(t.out.deltas);
    return kResultSuccess;
}
