// Reading an updater file back the way the updater itself reads it, for listing and verification.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_index.h"
#include "archive/version_list.h"
#include "update/package_checks.h"

class CFileDX;

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
};

// The chunk the tools stream files in (util/read_ahead.h): few enough hand-overs between the threads, and
// their ring stays in the processor's cache.
const uint32_t kToolChunk = 0x80000;
// A buffer for streaming through util/read_ahead.h in kToolChunk chunks.
std::vector<unsigned char> ToolStreamBuffer();
// The stored content checksum of `length` bytes from where the file pointer stands, read ahead through
// `buffer` (ToolStreamBuffer). False when the file runs short.
bool ChecksumStream(CFileDX& file, uint64_t length, std::vector<unsigned char>& buffer, uint64_t& value);

// False with a message when the file is not an updater the program could open.
bool ReadUpdaterFile(const std::wstring& path, UpdaterContents& contents, std::string& error);

// Checks the package exactly as the updater does before it copies anything, then every entry against its
// version record's checksum. True exactly when the updater would not refuse the package as damaged or
// unreadable. False with a message naming the first problem.
bool VerifyUpdaterFile(const std::wstring& path, std::string& error);

// The same, keeping what it read: the package, each entry's target and record, and each entry's content
// checksum. With `folder`, names are compared as they resolve in that installation, as the updater does.
bool CheckUpdaterFile(const std::wstring& path, const FolderReader* folder, UpdatePackage& package, EntryTargets& targets,
                      std::vector<uint64_t>& checksums, std::string& error);
