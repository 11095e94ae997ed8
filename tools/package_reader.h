// Reading an updater file back the way the updater itself reads it, for listing and verification.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_index.h"
#include "archive/version_list.h"
#include "update/package/package_checks.h"

class CFileDX;
class ReadAheadThread;

struct UpdaterContents {
    uint64_t fileSize = 0;
    std::string title;  // UTF-8
    ArchiveHeader header{};
    std::vector<ArchiveEntry> entries;
    std::vector<uint32_t> storedOffsets;  // as stored in the index, relative to the data start
    bool hasCertificate = false;  // an Authenticode certificate table is present (never validated)
    uint32_t certificateOffset = 0, certificateSize = 0;
    bool hasVersionList = false;
    VersionListHeader versionHeader{};
    std::vector<VersionRecord> records;
    std::vector<DeltaRecord> deltas;  // the delta table's records, none in a package of whole files
    std::vector<CompressionRecord> compressed;  // the compression table's records, none when every entry is stored
};

// The chunk the tools stream files in (util/io/read_ahead.h): few enough hand-overs between the threads, and
// their ring stays in the processor's cache.
const uint32_t kToolChunk = 0x80000;
// A buffer for streaming through util/io/read_ahead.h in kToolChunk chunks.
std::vector<unsigned char> ToolStreamBuffer();
// The stored content checksum of `length` bytes from where the file pointer stands, read ahead through
// `buffer` (ToolStreamBuffer) by `reader`'s thread (or one of the call's own). False when the file runs short.
bool ChecksumStream(CFileDX& file, uint64_t length, std::vector<unsigned char>& buffer, uint64_t& value,
                    ReadAheadThread* reader = nullptr);

// False with a message when the file is not an updater the program could open.
bool ReadUpdaterFile(const std::wstring& path, UpdaterContents& contents, std::string& error);

// Checks the package exactly as the updater does before it copies anything, then every entry against its
// version record's checksum, and every delta against its own checksum, its structure and its bounds. True
// exactly when the updater would not refuse the package as damaged or unreadable. False with a message
// naming the first problem.
bool VerifyUpdaterFile(const std::wstring& path, std::string& error);

// A delta applied to a base found in an earlier version's folder, and whether it gave its target.
struct AppliedDelta {
    std::string entry, target;
    std::wstring base;  // the file it was applied to; empty when the folders hold no file with its base's content
    bool gaveTarget = false;
};
// Applies every delta of a package CheckUpdaterFile accepted to the file at its target's path below each of
// `bases` that has its base's size and checksum, and checks the result against the target's size and version
// record. False with a message when a base file cannot be read; a delta that does not give its target is
// reported in `applied`, not as an error.
bool ApplyDeltasToBases(UpdatePackage& package, const EntryTargets& targets, const std::vector<std::wstring>& bases,
                        std::vector<AppliedDelta>& applied, std::string& error);

// The same, keeping what it read: the package, each entry's target and record, and each entry's content
// checksum. With `folder`, names are compared as they resolve in that installation, as the updater does.
bool CheckUpdaterFile(const std::wstring& path, const FolderReader* folder, UpdatePackage& package, EntryTargets& targets,
                      std::vector<uint64_t>& checksums, std::string& error);
