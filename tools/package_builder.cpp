// The package builder: checks the shipped files, then writes image, title block and payload archive.
//
// Output layout:
//   0         the program image, zero-filled up to 0xA0000
//   0xA0000   title block: the title in code page 932, NUL, zeros to 1024 bytes
//   0xA0400   payload: "VORLAN ARC20" header and 128-byte index records in ascending byte order of name,
//             then the entries' data contiguous in index order; the entry "KPX.hvl" is a version list
//             ("KHV_V2__", reserved 0) with one record per shipped file and its checksum.
//             A delta package adds the delta table "KPX.dlt" (archive/delta_table.h) and the deltas it names,
//             "KPX.dlt.000" on; a file shipped as deltas alone has its version record but no entry.
//             A compressed package stores files and deltas as zstd frames where that is smaller, and adds the
//             compression table "KPX.cmp" (archive/compression_table.h), whose data follows every other
//             entry's (the others stay contiguous in index order).
#include "tools/package_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/archive_index.h"
#include "archive/checksum.h"
#include "archive/compression_table.h"
#include "archive/entry_lists.h"
#include "archive/version_list.h"
#include "tools/columns.h"
#include "tools/output_file.h"
#include "tools/package_deltas.h"
#include "tools/package_reader.h"
#include "tools/zstd_frame_writer.h"
#include "compress/zstd_frame_reader.h"
#include "update/package/entry_content.h"
#include "update/package/package.h"
#include "update/package/package_checks.h"
#include "update/package/package_layout.h"
#include "update/package/title_block.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/fs/relative_path.h"
#include "util/io/read_ahead.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"

namespace {

const uint32_t kMaxEntryName = kArchiveNameWidth - 1;                       // bytes before the NUL
const uint32_t kMaxRecordName = kVersionRecordSize - kVersionValueSize - 1;  // likewise

struct PlannedEntry {
    std::string storedName;  // code page 932, as written in the index
    std::string utf8Name;
    const ShippedFile* file;  // null for the version list and for what `bytes` holds
    std::string targetUtf8;   // record path for shipped files
    uint32_t size;
    uint32_t offset;  // from the data start
    std::vector<unsigned char> bytes;  // a delta's or the delta table's bytes
    // A whole file shipped beside its deltas: the checksum its deltas were made for. The bytes written must
    // have it, or the file changed between the two reads.
    bool deltaChecksumKnown = false;
    uint64_t deltaChecksum = 0;
    bool isDelta = false;           // a delta's bytes (else `bytes` hold the delta table's)
    bool compressionTable = false;  // the compression table: its data follows every other entry's
    bool compressed = false;        // stored as the zstd frame `compression` describes
    CompressionRecord compression{};
};

// What the payload carries: its entries, and the version records of files shipped as deltas alone.
struct PayloadPlan {
    std::vector<PlannedEntry> entries;
    std::vector<VersionRecord> deltaOnly;
    size_t leftOut = 0;  // files every base holds already: not shipped
};

// Converts a UTF-8 name to the code page 932 bytes stored in the file, and makes sure the updater's own
// decoding (which classifies bytes on the spot) reads exactly this name back.
bool ToStoredName(const std::string& utf8, std::string& stored)
{
    std::string back;
    return ToMultiByte(utf8.c_str(), Encoding::Native, stored, true) && ToMultiByte(stored.c_str(), Encoding::Utf8, back, true) &&
           back == utf8;
}

bool WriteAll(CFileDX& out, const void* data, size_t size)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (size) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, kCopyChunk));
        if (out.Write(p, n) != n)
            return false;
        p += n;
        size -= n;
    }
    return true;
}

bool ReadWhole(const std::wstring& path, std::vector<unsigned char>& bytes)
{
    uint64_t size = 0;
    if (!FileSizeOf(path, size) || size > kTitleBlockOffset)
        return false;
    CFileDX in;
    bytes.resize(static_cast<size_t>(size));
    return in.Open(path.c_str()) && (size == 0 || in.Read(bytes.data(), static_cast<uint32_t>(size)) == size);
}

bool PlanDeltas(const BuildOptions& options, std::vector<std::string>& keys, PayloadPlan& payload, std::string& error);

// The updater's own checks of a package, on what was written, before it is moved into place: a package every
// updater would refuse never leaves the builder.
bool ProveCompressed(UpdatePackage& package, const PayloadPlan& payload, bool progress, std::string& error);

// The updater's own checks of a package, on what was written, before it is moved into place: a package every
// updater would refuse never leaves the builder, nor one whose compressed entries do not decode to their
// content.
bool CheckWritten(const std::wstring& partial, const PayloadPlan& payload, bool progress, std::string& error)
{
    UpdatePackage package;
    EntryTargets targets;
    std::string problem;
    if (OpenUpdatePackage(package, partial.c_str()) != kResultSuccess ||
        CheckUpdatePackage(package, nullptr, targets, problem) != kResultSuccess) {
        error = "the updater would refuse what was written" + (problem.empty() ? std::string() : ": " + problem);
        return false;
    }
    return ProveCompressed(package, payload, progress, error);
}

// A shipped file's names as the payload stores them: its target's record path and its entry name, each with
// a faithful code page 932 form that fits its field. False with the problem, naming the file.
bool NameEntry(const std::wstring& target, PlannedEntry& e, std::string& error)
{
    const std::string shown = ToUtf8(target);
    if (!IsSafeRelativePath(target)) {
        error = "unsafe install path \"" + shown + "\": it must stay inside the installation folder";
        return false;
    }
    std::string storedPath;
    if (!WideToMultiByte(target.c_str(), Encoding::Utf8, e.targetUtf8, true) || !ToStoredName(e.targetUtf8, storedPath)) {
        error = "install path \"" + shown + "\" has no faithful Shift-JIS (code page 932) form";
        return false;
    }
    if (storedPath.size() > kMaxRecordName) {
        error = "install path \"" + shown + "\" is " + std::to_string(storedPath.size()) +
                " bytes in code page 932; at most " + std::to_string(kMaxRecordName) + " fit";
        return false;
    }
    e.utf8Name = e.targetUtf8.substr(e.targetUtf8.rfind('\\') + 1);
    if (!ToStoredName(e.utf8Name, e.storedName)) {
        error = "file name \"" + e.utf8Name + "\" has no faithful Shift-JIS (code page 932) form";
        return false;
    }
    if (e.storedName.size() > kMaxEntryName) {
        error = "file name \"" + e.utf8Name + "\" is " + std::to_string(e.storedName.size()) +
                " bytes in code page 932; at most " + std::to_string(kMaxEntryName) + " fit";
        return false;
    }
    return true;
}

// Each target as Windows compares names, and its spelling.
using ReachedTargets = std::vector<std::pair<std::wstring, std::string>>;

// False, with the problem, when the updater could not tell the file from one planned before: an entry name
// taken already (ignoring case, the version list's and the delta table's among them) or a target that
// Windows takes for one reached already. Adds the file's to both.
bool CheckDistinct(const std::wstring& target, const PlannedEntry& e, std::vector<std::string>& keys,
                   ReachedTargets& reached, std::string& error)
{
    std::string key;
    ArchiveNameKey(e.utf8Name, key);
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
        error = key == kVersionListKey || key == kDeltaTableKey || key == kCompressionTableKey
                    ? "a shipped file may not be named \"" + e.utf8Name + "\": that is the " +
                          (key == kVersionListKey ? "version list" : key == kDeltaTableKey ? "delta table" : "compression table")
                    : "two shipped files are both named \"" + e.utf8Name +
                          "\" (ignoring case): the updater could not tell them apart";
        return false;
    }
    keys.push_back(key);
    // Two targets that Windows takes for one file, in the updater's own comparison (its upper case, not
    // ASCII's alone: "α.arc" and "Α.arc" are one file there).
    const std::wstring folded = RelativePathKey(target);
    const auto clash = std::find_if(reached.begin(), reached.end(),
                                    [&](const std::pair<std::wstring, std::string>& r) { return r.first == folded; });
    if (clash != reached.end()) {
        error = "two shipped files, \"" + clash->second + "\" and \"" + ToUtf8(target) +
                "\", are one file to Windows (names compared as Windows compares them): the updater could not tell them apart";
        return false;
    }
    reached.push_back({folded, ToUtf8(target)});
    return true;
}

// The shipped file's size as its entry's; false when it cannot be read or is 4 GiB or larger.
bool SizeEntry(const ShippedFile& f, PlannedEntry& e, std::string& error)
{
    uint64_t size = 0;
    if (!FileSizeOf(f.source, size)) {
        error = "cannot read \"" + ToUtf8(f.source) + "\"";
        return false;
    }
    if (size >= 0x100000000ull) {
        error = "\"" + ToUtf8(f.source) + "\" is 4 GiB or larger; entries must be smaller";
        return false;
    }
    e.size = static_cast<uint32_t>(size);
    return true;
}

// Adds the version list, puts the entries in the index's order and gives each its offset; false when the
// updater could not take them.
bool PlaceEntries(PayloadPlan& payload, std::string& error)
{
    std::vector<PlannedEntry>& plan = payload.entries;
    if (plan.size() + 1 > kMaxPayloadEntries) {
        const bool table = std::any_of(plan.begin(), plan.end(), [](const PlannedEntry& e) { return e.compressionTable; });
        error = "too many entries: " + std::to_string(plan.size() - table) + " files and deltas (the updater takes at most " +
                std::to_string(kMaxPayloadEntries - 1 - table) + " besides its version list" +
                (table ? " and the compression table)" : ")");
        return false;
    }
    // One record per file that ships, whole or as deltas alone.
    size_t recordCount = payload.deltaOnly.size();
    for (const PlannedEntry& e : plan)
        recordCount += e.file ? 1 : 0;
    if (recordCount == 0) {
        error = "nothing to ship: every file is unchanged in every base";
        return false;
    }
    PlannedEntry list{};
    list.storedName = list.utf8Name = kPayloadVersionListName;
    list.size = static_cast<uint32_t>(kVersionHeaderSize + recordCount * kVersionRecordSize);
    plan.push_back(list);
    std::sort(plan.begin(), plan.end(),
              [](const PlannedEntry& a, const PlannedEntry& b) { return a.storedName < b.storedName; });

    uint64_t offset = 0;
    for (PlannedEntry& e : plan) {
        e.offset = static_cast<uint32_t>(offset);
        offset += e.size;
    }
    const uint64_t total = kPayloadOffset + kArchiveHeaderSize + plan.size() * kArchiveRecordSize + offset;
    if (total >= 0x100000000ull) {
        error = "the updater would be " + std::to_string(total) + " bytes; it must stay below 4 GiB";
        return false;
    }
    return true;
}

bool PlanEntries(const BuildOptions& options, PayloadPlan& payload, std::string& error)
{
    if (options.files.empty()) {
        error = "no files to ship";
        return false;
    }
    if (options.files.size() + 1 > kMaxPayloadEntries) {
        error = "too many files: " + std::to_string(options.files.size()) + " (the updater takes at most " +
                std::to_string(kMaxPayloadEntries - 1) + " besides its version list)";
        return false;
    }
    std::vector<std::string> keys = {kVersionListKey, kDeltaTableKey, kCompressionTableKey};
    ReachedTargets reached;
    for (const ShippedFile& f : options.files) {
        std::wstring target = f.target;
        std::replace(target.begin(), target.end(), L'/', L'\\');
        PlannedEntry e{};
        e.file = &f;
        if (!NameEntry(target, e, error) || !CheckDistinct(target, e, keys, reached, error) || !SizeEntry(f, e, error))
            return false;
        payload.entries.push_back(e);
    }
    if (!options.bases.empty() && !PlanDeltas(options, keys, payload, error))
        return false;
    if (options.compress) {
        // Planned at its largest, a record for every file and delta; written with the records of those that
        // shrink.
        PlannedEntry table{};
        table.storedName = table.utf8Name = kCompressionTableName;
        table.compressionTable = true;
        table.size = kCompressionTableHeaderSize + static_cast<uint32_t>(payload.entries.size()) * kCompressionRecordSize;
        payload.entries.push_back(table);
    }
    return PlaceEntries(payload, error);
}

// A delta as the next entry "KPX.dlt.NNN" of the payload and the next record of the delta table; its bytes
// move into the entry. False when a shipped file has the name already or the table is full.
bool AddDelta(PlannedDelta& d, std::vector<std::string>& keys, std::vector<DeltaRecord>& table,
              std::vector<PlannedEntry>& entries, std::string& error)
{
    char name[16];
    snprintf(name, sizeof name, "%s.%03u", kDeltaTableName, static_cast<unsigned>(table.size()));
    PlannedEntry entry{};
    entry.storedName = entry.utf8Name = name;
    std::string key;
    ArchiveNameKey(entry.utf8Name, key);
    if (std::find(keys.begin(), keys.end(), key) != keys.end()) {
        error = "a shipped file is named \"" + entry.utf8Name + "\", the name of a delta";
        return false;
    }
    keys.push_back(key);
    if (d.bytes.size() >= 0x100000000ull || table.size() >= kMaxDeltaRecords) {
        error = "too many deltas";
        return false;
    }
    d.record.entry = entry.utf8Name;
    entry.isDelta = true;
    entry.size = static_cast<uint32_t>(d.bytes.size());
    entry.bytes.swap(d.bytes);
    table.push_back(d.record);
    entries.push_back(std::move(entry));
    return true;
}

// Replaces, for each shipped file found in a base folder, its entry by deltas (keeping it where the whole
// file must ship too), and adds the delta table.
bool PlanDeltas(const BuildOptions& options, std::vector<std::string>& keys, PayloadPlan& payload, std::string& error)
{
    std::vector<PlannedEntry> entries;
    std::vector<DeltaRecord> table;
    for (PlannedEntry& e : payload.entries) {
        TargetDeltas deltas;
        if (options.progress)
            fprintf(stderr, "mkupdate: deltas of %s\n", e.targetUtf8.c_str());
        if (!PlanTargetDeltas(*e.file, e.targetUtf8, options.bases, options.keepFull, deltas, error))
            return false;
        if (deltas.size != e.size) {
            error = "\"" + ToUtf8(e.file->source) + "\" changed while it was read";
            return false;
        }
        if (deltas.unchanged && !deltas.full) {
            if (options.progress)
                fprintf(stderr, "mkupdate: %s is unchanged in every base: not shipped\n", e.targetUtf8.c_str());
            ++payload.leftOut;
            continue;
        }
        e.deltaChecksumKnown = true;
        e.deltaChecksum = deltas.checksum;
        for (PlannedDelta& d : deltas.deltas)
            if (!AddDelta(d, keys, table, entries, error))
                return false;
        if (deltas.full)
            entries.push_back(std::move(e));
        else
            payload.deltaOnly.push_back({e.targetUtf8, deltas.checksum});
    }
    PlannedEntry tableEntry{};
    tableEntry.storedName = tableEntry.utf8Name = kDeltaTableName;
    if (!EncodeDeltaTable(table, tableEntry.bytes)) {
        error = "cannot encode the delta table";
        return false;
    }
    tableEntry.size = static_cast<uint32_t>(tableEntry.bytes.size());
    entries.push_back(std::move(tableEntry));
    payload.entries.swap(entries);
    return true;
}

// Streams one shipped file into the output, folding its bytes into `checksum`: the bytes written are the
// bytes checksummed.
bool CopyEntry(CFileDX& out, const PlannedEntry& e, std::vector<unsigned char>& buffer, ContentChecksum& checksum,
               std::string& error)
{
    CFileDX in;
    if (!in.Open(e.file->source.c_str())) {
        error = "cannot open \"" + ToUtf8(e.file->source) + "\"";
        return false;
    }
    bool written = true;
    // The checksum is taken in the reading thread, the write in this one: each about as long as the other.
    const bool streamed = StreamWithReadAhead(
        in, e.size, kToolChunk, buffer.data(),
        [&](const unsigned char* bytes, uint32_t n) { return written = out.Write(bytes, n) == n; },
        [&](const unsigned char* bytes, uint32_t n) {
            UpdateContentChecksum(checksum, bytes, n);
            return true;
        });
    if (!written) {
        error = "cannot write the output (disk full?)";
        return false;
    }
    unsigned char extra;
    if (!streamed || in.Read(&extra, 1) != 0) {
        error = "\"" + ToUtf8(e.file->source) + "\" changed while it was read";
        return false;
    }
    return true;
}


const char kCannotWrite[] = "cannot write the output (disk full?)";

// The program image zero-filled up to the title block, the title block, then the payload's header and index.
bool WriteHead(CFileDX& out, const std::vector<unsigned char>& image, const std::vector<unsigned char>& title,
               const std::vector<PlannedEntry>& plan, uint64_t& dataStart, std::string& error)
{
    std::vector<unsigned char> head(kTitleBlockOffset, 0);
    memcpy(head.data(), image.data(), image.size());
    head.insert(head.end(), title.begin(), title.end());
    std::vector<ArchiveIndexRecord> indexRecords;
    for (const PlannedEntry& e : plan)
        indexRecords.push_back({e.storedName, e.offset, e.size});
    std::vector<unsigned char> index;
    if (!EncodeArchiveIndex(indexRecords, index)) {
        error = "cannot encode the archive index";
        return false;
    }
    if (!WriteAll(out, head.data(), head.size()) || !WriteAll(out, index.data(), index.size())) {
        error = kCannotWrite;
        return false;
    }
    dataStart = kPayloadOffset + index.size();
    return true;
}

// An entry's content as the builder reads it to compress it: the shipped file streamed (its checksum taken on
// the way, as a copy's is), or a delta's bytes.
class PlannedContent {
public:
    explicit PlannedContent(const PlannedEntry& e) : e_(e) {}
    bool Open() { return !e_.file || in_.Open(e_.file->source.c_str()); }
    bool Read(unsigned char* bytes, uint32_t n)
    {
        if (!e_.file) {
            if (n > e_.bytes.size() - at_)
                return false;
            memcpy(bytes, e_.bytes.data() + at_, n);
            at_ += n;
        } else if (in_.Read(bytes, n) != n) {
            return false;
        }
        UpdateContentChecksum(checksum_, bytes, n);
        return true;
    }
    // True when nothing follows what was read: a shipped file that grew while it was read has changed.
    bool AtEnd()
    {
        unsigned char extra;
        return !e_.file || in_.Read(&extra, 1) == 0;
    }
    uint64_t Checksum() const { return StoredChecksum(checksum_); }

private:
    const PlannedEntry& e_;
    CFileDX in_;
    size_t at_ = 0;
    ContentChecksum checksum_{};
};

// Writes entry `e` at the output's position as one zstd frame at `level` when that is at least
// kCompressionMarginPercent smaller than its content. The frame is abandoned as soon as it grows past that
// size, and nothing past it is ever written: the entry is then written as it is over what the frame left.
// `compressed` tells which; `content` is the content's checksum when compressed.
bool WriteCompressed(CFileDX& out, PlannedEntry& e, int level, bool& compressed, uint64_t& content, std::string& error)
{
    compressed = false;
    const uint64_t limit = static_cast<uint64_t>(e.size) * (100 - kCompressionMarginPercent) / 100;
    PlannedContent in(e);
    if (!in.Open()) {
        error = "cannot open \"" + ToUtf8(e.file->source) + "\"";
        return false;
    }
    uint64_t written = 0;
    bool tooLarge = false, writeFailed = false, abandoned = false;
    ContentChecksum stored{};
    const bool framed = WriteZstdFrame(
        [&in](unsigned char* bytes, uint32_t n) { return in.Read(bytes, n); }, e.size, level,
        [&](const unsigned char* bytes, size_t n) {
            if (written + n > limit)
                return !(tooLarge = true);
            if (out.Write(bytes, static_cast<uint32_t>(n)) != n)
                return !(writeFailed = true);
            UpdateContentChecksum(stored, bytes, static_cast<uint32_t>(n));
            written += n;
            return true;
        },
        limit, abandoned);
    if (writeFailed) {
        error = kCannotWrite;
        return false;
    }
    if (tooLarge || abandoned)
        return true;
    if (!framed || !in.AtEnd()) {
        error = e.file ? "\"" + ToUtf8(e.file->source) + "\" changed while it was read" : "cannot compress " + e.utf8Name;
        return false;
    }
    compressed = true;
    content = in.Checksum();
    e.compressed = true;
    e.compression = {e.utf8Name, EntryForm::Zstd, written, e.size, StoredChecksum(stored), content};
    e.size = static_cast<uint32_t>(written);
    return true;
}

// One entry's data at the output's position: a delta's or a table's bytes, or a shipped file streamed and
// checksummed into its version record (`records`); with `compress`, a file or a delta as a zstd frame where
// that is smaller.
bool WriteEntry(CFileDX& out, const BuildOptions& options, PlannedEntry& e, uint64_t at, std::vector<unsigned char>& buffer,
                std::vector<VersionRecord>& records, std::string& error)
{
    // What installs is compressed, a file or a delta; the payload's own tables and list stay as they are.
    const bool candidate = options.compress && (e.file || e.isDelta);
    bool compressed = false;
    uint64_t checksum = 0;
    if (candidate) {
        if (!WriteCompressed(out, e, options.level, compressed, checksum, error))
            return false;
        if (!compressed && !out.Seek(static_cast<int64_t>(at))) {
            error = kCannotWrite;
            return false;
        }
    }
    if (!compressed && !e.file) {
        if (!WriteAll(out, e.bytes.data(), e.bytes.size())) {
            error = kCannotWrite;
            return false;
        }
        return true;
    }
    if (!compressed) {
        ContentChecksum sum{};
        if (!CopyEntry(out, e, buffer, sum, error))
            return false;
        checksum = StoredChecksum(sum);
    }
    if (!e.file)
        return true;
    if (e.deltaChecksumKnown && checksum != e.deltaChecksum) {
        error = "\"" + ToUtf8(e.file->source) + "\" changed while it was read";
        return false;
    }
    records.push_back({e.targetUtf8, checksum});
    return true;
}

// Every entry's data in index order, each at the offset it is given here (a compressed entry takes less than
// planned): zeros where the version list goes, the compression table behind all the others. `records` gets
// the shipped files' version records, `listEntry` the version list's entry.
bool WriteEntries(CFileDX& out, const BuildOptions& options, uint64_t dataStart, std::vector<PlannedEntry>& plan,
                  std::vector<VersionRecord>& records, PlannedEntry*& listEntry, PlannedEntry*& tableEntry,
                  std::string& error)
{
    uint64_t total = 0;
    for (const PlannedEntry& e : plan)
        total += e.size;
    std::vector<unsigned char> buffer = ToolStreamBuffer();
    uint64_t done = 0, offset = 0;
    for (PlannedEntry& e : plan) {
        if (e.compressionTable) {
            tableEntry = &e;
            continue;
        }
        if (!e.file && e.bytes.empty()) {  // the version list: its place is kept and filled once every checksum is known
            listEntry = &e;
            std::vector<unsigned char> zeros(e.size, 0);
            if (!WriteAll(out, zeros.data(), zeros.size())) {
                error = kCannotWrite;
                return false;
            }
        } else {
            // Compressing at the higher levels takes seconds a megabyte: every entry is named as it starts.
            if (options.progress && (e.file || (options.compress && e.isDelta)) && (total >= 64ull << 20 || options.compress))
                fprintf(stderr, "mkupdate: %3u%%  %s (%u bytes)\n", static_cast<unsigned>(done * 100 / total),
                        e.file ? e.targetUtf8.c_str() : e.utf8Name.c_str(), e.size);
            done += e.size;
            if (!WriteEntry(out, options, e, dataStart + offset, buffer, records, error))
                return false;
        }
        e.offset = static_cast<uint32_t>(offset);
        offset += e.size;
    }
    if (tableEntry)
        tableEntry->offset = static_cast<uint32_t>(offset);
    return true;
}

// A compressed package's compression table, behind every other entry's data, and the index again, now with
// the sizes and offsets the entries took.
bool WriteCompressionTable(CFileDX& out, bool progress, uint64_t dataStart, std::vector<PlannedEntry>& plan,
                           PlannedEntry& table, std::string& error)
{
    std::vector<CompressionRecord> compressed;
    uint64_t contentBytes = 0, storedBytes = 0;
    for (const PlannedEntry& e : plan)
        if (e.compressed) {
            compressed.push_back(e.compression);
            contentBytes += e.compression.contentSize;
            storedBytes += e.size;
        }
    std::vector<ArchiveIndexRecord> index;
    if (!EncodeCompressionTable(compressed, table.bytes)) {
        error = "cannot encode the compression table";
        return false;
    }
    table.size = static_cast<uint32_t>(table.bytes.size());
    for (const PlannedEntry& e : plan)
        index.push_back({e.storedName, e.offset, e.size});
    std::vector<unsigned char> indexBytes;
    if (!EncodeArchiveIndex(index, indexBytes) || kPayloadOffset + indexBytes.size() != dataStart) {
        error = "cannot encode the archive index";
        return false;
    }
    if (!out.Seek(static_cast<int64_t>(dataStart + table.offset)) || !WriteAll(out, table.bytes.data(), table.bytes.size()) ||
        !out.Seek(kPayloadOffset) || !WriteAll(out, indexBytes.data(), indexBytes.size())) {
        error = kCannotWrite;
        return false;
    }
    if (dataStart + table.offset + table.size >= 0x100000000ull) {
        error = "the updater would be 4 GiB or larger";
        return false;
    }
    if (progress)
        fprintf(stderr, "mkupdate: %s stored compressed: %llu bytes for %llu bytes of content\n",
                Counted(compressed.size(), "entry", "entries").c_str(), static_cast<unsigned long long>(storedBytes),
                static_cast<unsigned long long>(contentBytes));
    return true;
}

bool WritePackage(CFileDX& out, const BuildOptions& options, const std::vector<unsigned char>& image,
                  const std::vector<unsigned char>& title, PayloadPlan& payload, std::string& error)
{
    uint64_t dataStart = 0;
    std::vector<VersionRecord> records;
    PlannedEntry* listEntry = nullptr;
    PlannedEntry* tableEntry = nullptr;
    if (!WriteHead(out, image, title, payload.entries, dataStart, error) ||
        !WriteEntries(out, options, dataStart, payload.entries, records, listEntry, tableEntry, error))
        return false;
    if (tableEntry && !WriteCompressionTable(out, options.progress, dataStart, payload.entries, *tableEntry, error))
        return false;
    records.insert(records.end(), payload.deltaOnly.begin(), payload.deltaOnly.end());
    VersionListHeader versionHeader{};
    memcpy(versionHeader.magic, kVersionListMagic, sizeof versionHeader.magic);
    versionHeader.count = static_cast<uint32_t>(records.size());
    std::vector<unsigned char> listBytes;
    if (!EncodeVersionList(versionHeader, records, listBytes) || listBytes.size() != listEntry->size) {
        error = "cannot encode the version list";
        return false;
    }
    if (!out.Seek(static_cast<int64_t>(dataStart + listEntry->offset)) ||
        !WriteAll(out, listBytes.data(), listBytes.size())) {
        error = kCannotWrite;
        return false;
    }
    return true;
}

// The proof of a compressed package, on what was written: every compressed entry, read back with the
// updater's own reader and decoder, gives its file's or its delta's bytes exactly.
bool ProveCompressed(UpdatePackage& package, const PayloadPlan& payload, bool progress, std::string& error)
{
    if (progress && std::any_of(payload.entries.begin(), payload.entries.end(), [](const PlannedEntry& e) { return e.compressed; }))
        fprintf(stderr, "mkupdate: decompressing every compressed entry with the updater's decoder\n");
    ZstdFrameReader frames;
    std::vector<unsigned char> decoded(kToolChunk), original(kToolChunk);
    for (const PlannedEntry& planned : payload.entries) {
        if (!planned.compressed)
            continue;
        const auto entry = std::find_if(package.entries.begin(), package.entries.end(),
                                        [&](const ArchiveEntry& a) { return SameArchiveName(a.name, planned.utf8Name); });
        const std::string named = "the compressed entry \"" + planned.utf8Name + "\" ";
        if (entry == package.entries.end()) {
            error = named + "is missing from what was written";
            return false;
        }
        EntryContent content(package, *entry, &frames);
        PlannedContent source(planned);
        bool same = content.Compressed() && content.Size() == planned.compression.contentSize && source.Open() &&
                    content.Begin();
        for (uint32_t left = content.Size(); same && left > 0;) {
            const uint32_t n = std::min(left, kToolChunk);
            same = content.Read(decoded.data(), n) && source.Read(original.data(), n) &&
                   memcmp(decoded.data(), original.data(), n) == 0;
            left -= n;
        }
        if (!same || !content.Finish() || !source.AtEnd()) {
            error = named + "does not give its content back with the updater's decoder" +
                    (content.Problem().empty() ? std::string() : " (" + content.Problem() + ")");
            return false;
        }
    }
    return true;
}

}  // namespace

bool CollectFolder(const std::wstring& root, std::vector<ShippedFile>& files, std::string& error)
{
    std::vector<std::wstring> pending = {L""};
    const size_t first = files.size();
    while (!pending.empty()) {
        std::wstring rel = pending.back();
        pending.pop_back();
        std::wstring dir = rel.empty() ? root : root + L"\\" + rel;
        std::vector<FolderItem> items;
        // A listing that breaks off would ship part of the folder.
        if (!ListFolder(dir, items)) {
            error = "cannot read the folder \"" + ToUtf8(dir) + "\"";
            return false;
        }
        for (const FolderItem& item : items) {
            std::wstring sub = rel.empty() ? item.name : rel + L"\\" + item.name;
            if (item.folder)
                pending.push_back(sub);
            else
                files.push_back({root + L"\\" + sub, sub});
        }
    }
    // In one order whatever order the system lists in: the same folder always makes the same updater and
    // the same messages.
    std::sort(files.begin() + static_cast<std::ptrdiff_t>(first), files.end(),
              [](const ShippedFile& a, const ShippedFile& b) { return a.target < b.target; });
    return true;
}

bool BuildUpdater(const BuildOptions& options, std::string& error, size_t* leftOut)
{
    std::vector<unsigned char> image, title;
    uint64_t imageSize = 0;
    if (!FileSizeOf(options.image, imageSize)) {
        error = "cannot read the program image \"" + ToUtf8(options.image) + "\"";
        return false;
    }
    if (imageSize > kTitleBlockOffset) {
        error = "the program image is " + std::to_string(imageSize) + " bytes; it must end by 0xA0000 (655360)";
        return false;
    }
    if (!ReadWhole(options.image, image)) {
        error = "cannot read the program image \"" + ToUtf8(options.image) + "\"";
        return false;
    }
    PayloadPlan plan;
    if (!EncodeTitleBlock(options.title, title, error) || !PlanEntries(options, plan, error))
        return false;
    if (leftOut)
        *leftOut = plan.leftOut;

    return WriteThroughPartial(
        options.output, "updater",
        [&](CFileDX& out, std::string& problem) { return WritePackage(out, options, image, title, plan, problem); },
        error, [&](const std::wstring& partial, std::string& problem) {
            return CheckWritten(partial, plan, options.progress, problem);
        });
}
