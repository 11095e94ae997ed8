// The update package inside the updater's own file: the payload archive's index and its version list.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_index.h"
#include "archive/compression_table.h"
#include "archive/delta_table.h"
#include "archive/version_list.h"
#include "update/package/package_layout.h"
#include "util/fs/file.h"

struct UpdatePackage {
    CFileDX file;  // open for shared reading for the whole run
    ArchiveHeader header{};
    std::vector<ArchiveEntry> entries;
    VersionListHeader versionHeader{};  // all zero, and no records, when there is no readable version list
    std::vector<VersionRecord> records;
    std::vector<DeltaRecord> deltas;  // the delta table's records; none in a package of whole files
    std::vector<CompressionRecord> compressed;  // the compression table's records; none when every entry is stored
};

// Result codes of an update run.
const uint32_t kResultSuccess = 0;
const uint32_t kResultDamaged = 0x80000001;
const uint32_t kResultUnreadable = 0x80000002;
const uint32_t kResultInstallFailed = 0x80000004;
const uint32_t kResultUninstallListFailed = 0x80000005;
const uint32_t kResultCancelled = 0x80000006;
const uint32_t kResultAborted = 0x80000007;
// A delta package whose targets find neither a base their deltas apply to nor a whole file to copy.
const uint32_t kResultNotApplicable = 0x80000008;

// True for the codes of a package refused before anything was written ("The installer may be damaged."):
// damaged, unreadable, and the never produced 0x80000003.
inline bool IsPackageRefused(uint32_t result) { return result >= kResultDamaged && result <= 0x80000003; }

// Opens the package in `path`, or in the running program's own file when path is null. 0 on success;
// kResultUnreadable when the file or its header and index cannot be read; kResultDamaged when the file is
// shorter than kPayloadOffset or the payload has more than kMaxPayloadEntries entries.
uint32_t OpenUpdatePackage(UpdatePackage& package, const wchar_t* path = nullptr);
// Reads the first entry whose key is "kpx.hvl" as the payload's version list. A payload without one keeps
// an empty list and succeeds (kResultSuccess). kResultDamaged, with the list empty, when that entry is there
// but is not a version list that fits inside the entry's own bytes.
uint32_t LoadPayloadVersionList(UpdatePackage& package);
// Reads the entry whose key is "kpx.dlt" as the payload's delta table. A payload without one has no deltas and
// succeeds. kResultDamaged, with `problem` naming the fault and no deltas, when the entry is not a delta table
// (see archive/delta_table.h) that fills the entry's own bytes.
uint32_t LoadPayloadDeltaTable(UpdatePackage& package, std::string& problem);
// Reads the entry whose key is "kpx.cmp" as the payload's compression table, as LoadPayloadDeltaTable reads the
// delta table. A payload without one stores every entry as it is.
uint32_t LoadPayloadCompressionTable(UpdatePackage& package, std::string& problem);
// What a payload entry is: the payload's version list, its delta table or its compression table (by the
// entry's key), a delta (an entry the delta table names), or a file installed as it is. The one
// classification every reader of a package asks; the delta table must be loaded for Delta to be told.
enum class EntryKind { VersionList, DeltaTable, CompressionTable, Delta, WholeFile };
EntryKind KindOfEntry(const UpdatePackage& package, const std::string& entryName);
// The delta table's record of the entry named `entryName`, or kNoDelta.
const int kNoDelta = -1;
int DeltaRecordOf(const UpdatePackage& package, const std::string& entryName);
// The compression table's record of the entry named `entryName`, or kStoredAsIs for an entry stored as it is.
const int kStoredAsIs = -1;
int CompressionRecordOf(const UpdatePackage& package, const std::string& entryName);
// An entry's bytes as the payload stores them (what is read from the file, and checksummed as stored), and
// the bytes of the content they stand for (what a delta is applied to, or a file is installed as): the same
// but for an entry the compression table names, whose record gives the content's size. The package checks
// hold that size below 4 GiB.
inline uint32_t StoredSize(const ArchiveEntry& entry) { return entry.size; }
uint32_t ContentSize(const UpdatePackage& package, const ArchiveEntry& entry);

// Positions the file on the entry's first byte.
bool SeekToEntry(UpdatePackage& package, const ArchiveEntry& entry);
// True when the entry's data lies wholly inside the package file.
bool EntryInsideFile(UpdatePackage& package, const ArchiveEntry& entry);
