// Opening the update package, finding its version list and reading its entries.
#include "update/package/package.h"

#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "util/text/strings.h"

uint32_t OpenUpdatePackage(UpdatePackage& package, const wchar_t* path)
{
    std::wstring ownPath;
    if (!path) {
        if (!OwnProgramPath(ownPath))
            return kResultUnreadable;
        path = ownPath.c_str();
    }
    if (!package.file.Open(path))
        return kResultUnreadable;
    const uint32_t size = package.file.GetSize();
    if (size < kPayloadOffset)  // also a failed size query: 0xFFFFFFFF is not below
        return size == 0xFFFFFFFF ? kResultUnreadable : kResultDamaged;
    if (!package.file.Seek(kPayloadOffset) || !ReadArchiveIndex(package.header, package.entries, package.file))
        return kResultUnreadable;
    if (package.header.count > kMaxPayloadEntries)
        return kResultDamaged;
    return kResultSuccess;
}

uint32_t LoadPayloadVersionList(UpdatePackage& package)
{
    package.versionHeader = VersionListHeader{};
    package.records.clear();
    for (const ArchiveEntry& e : package.entries) {
        if (KindOfEntry(package, e.name) != EntryKind::VersionList)
            continue;
        // The list's header and records must lie inside its own entry: a count that reaches into the
        // next entry's bytes would read archive data as names.
        VersionListHeader header;
        std::vector<VersionRecord> records;
        if (!EntryInsideFile(package, e) || !SeekToEntry(package, e) ||
            !ReadVersionList(header, records, package.file, StoredSize(e)))
            return kResultDamaged;
        package.versionHeader = header;
        package.records.swap(records);
        return kResultSuccess;
    }
    return kResultSuccess;
}

namespace {

// The bytes of the entry of `kind`, at most `maxSize` of them (bounded before anything is allocated). Success
// with no bytes when the payload has no such entry; `found` tells.
uint32_t ReadTableEntry(UpdatePackage& package, EntryKind kind, uint32_t maxSize, std::vector<unsigned char>& bytes,
                        bool& found, std::string& problem)
{
    found = false;
    const char* what = kind == EntryKind::DeltaTable ? "delta" : "compression";
    for (const ArchiveEntry& e : package.entries) {
        if (KindOfEntry(package, e.name) != kind)
            continue;
        // Two tables in two spellings would leave one unread: the package could not say which it means.
        if (found) {
            problem = "the payload holds it twice, in two spellings";
            return kResultDamaged;
        }
        found = true;
        const uint32_t size = StoredSize(e);
        if (size > maxSize) {
            problem = std::string("it is larger than any ") + what + " table";
            return kResultDamaged;
        }
        bytes.resize(size);
        if (!EntryInsideFile(package, e) || !SeekToEntry(package, e) ||
            (size && package.file.Read(bytes.data(), size) != size)) {
            problem = "it cannot be read whole";
            return kResultDamaged;
        }
    }
    return kResultSuccess;
}

}  // namespace

uint32_t LoadPayloadDeltaTable(UpdatePackage& package, std::string& problem)
{
    package.deltas.clear();
    std::vector<unsigned char> bytes;
    bool found = false;
    // The largest table of a payload of 256 entries.
    if (const uint32_t read = ReadTableEntry(package, EntryKind::DeltaTable,
                                             kDeltaTableHeaderSize + kMaxDeltaRecords * kDeltaRecordSize, bytes, found, problem))
        return read;
    return !found || DecodeDeltaTable(bytes.data(), bytes.size(), package.deltas, problem) ? kResultSuccess : kResultDamaged;
}

uint32_t LoadPayloadCompressionTable(UpdatePackage& package, std::string& problem)
{
    package.compressed.clear();
    std::vector<unsigned char> bytes;
    bool found = false;
    if (const uint32_t read = ReadTableEntry(package, EntryKind::CompressionTable,
                                             kCompressionTableHeaderSize + kMaxCompressionRecords * kCompressionRecordSize,
                                             bytes, found, problem))
        return read;
    return !found || DecodeCompressionTable(bytes.data(), bytes.size(), package.compressed, problem) ? kResultSuccess
                                                                                                   : kResultDamaged;
}

EntryKind KindOfEntry(const UpdatePackage& package, const std::string& entryName)
{
    // An entry the delta table names is a delta whatever its name (the table's own excepted): the package
    // checks then refuse one named as the version list by its record.
    if (SameArchiveName(entryName, kDeltaTableKey))
        return EntryKind::DeltaTable;
    if (SameArchiveName(entryName, kCompressionTableKey))
        return EntryKind::CompressionTable;
    if (DeltaRecordOf(package, entryName) != kNoDelta)
        return EntryKind::Delta;
    return SameArchiveName(entryName, kVersionListKey) ? EntryKind::VersionList : EntryKind::WholeFile;
}

int DeltaRecordOf(const UpdatePackage& package, const std::string& entryName)
{
    for (size_t d = 0; d < package.deltas.size(); ++d)
        if (SameArchiveName(package.deltas[d].entry, entryName))
            return static_cast<int>(d);
    return kNoDelta;
}

int CompressionRecordOf(const UpdatePackage& package, const std::string& entryName)
{
    for (size_t c = 0; c < package.compressed.size(); ++c)
        if (SameArchiveName(package.compressed[c].entry, entryName))
            return static_cast<int>(c);
    return kStoredAsIs;
}

uint32_t ContentSize(const UpdatePackage& package, const ArchiveEntry& entry)
{
    const int c = CompressionRecordOf(package, entry.name);
    return c == kStoredAsIs ? entry.size : static_cast<uint32_t>(package.compressed[c].contentSize);
}

bool SeekToEntry(UpdatePackage& package, const ArchiveEntry& entry)
{
    return package.file.Seek(static_cast<int64_t>(kPayloadOffset + entry.position)) != 0;
}

bool EntryInsideFile(UpdatePackage& package, const ArchiveEntry& entry)
{
    const uint32_t size = package.file.GetSize();
    return size != 0xFFFFFFFF && kPayloadOffset + entry.position + StoredSize(entry) <= size;
}
