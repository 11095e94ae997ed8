// Reading and verifying an updater file with the same readers the updater uses.
#include "tools/package_reader.h"

#include <windows.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/title_block.h"
#include "archive/entry_lists.h"
#include "update/package_checks.h"
#include "util/encoding.h"
#include "util/file.h"

bool ReadUpdaterFile(const std::wstring& path, UpdaterContents& contents, std::string& error)
{
    CFileDX file;
    if (!file.Open(path.c_str())) {
        error = "cannot open the file";
        return false;
    }
    const uint32_t size = file.GetSize();
    if (size == 0xFFFFFFFF || size < PayloadOffset) {
        error = "the file is shorter than 0xA0400 bytes: it carries no title block and payload";
        return false;
    }
    contents.fileSize = size;

    // Read exactly as the updater reads its own caption.
    wchar_t title[kTitleCapacity];
    if (!ReadTitleBlock(title, path.c_str()) || !WideToMultiByte(title, Utf8, contents.title)) {
        error = "the title block cannot be read";
        return false;
    }
    if (!file.Seek(PayloadOffset) || !ReadArchiveIndex(contents.header, contents.entries, file)) {
        error = "the payload's header or index is damaged";
        return false;
    }
    if (contents.header.count > kMaxPayloadEntries) {
        error = "the payload holds " + std::to_string(contents.header.count) + " entries; at most 256 are allowed";
        return false;
    }
    const uint64_t dataStart = 16 + static_cast<uint64_t>(contents.header.count) * ArchiveRecordSize(contents.header.magic);
    for (const ArchiveEntry& e : contents.entries)
        contents.storedOffsets.push_back(static_cast<uint32_t>(e.position - dataStart));

    for (const ArchiveEntry& e : contents.entries) {
        if (!SameArchiveName(e.name, kVersionListKey))
            continue;
        contents.hasVersionList = file.Seek(static_cast<int64_t>(PayloadOffset + e.position)) &&
                                  ReadVersionList(contents.versionHeader, contents.records, file);
        break;
    }
    return true;
}

bool VerifyUpdaterFile(const std::wstring& path, std::string& error)
{
    UpdatePackage package;
    const uint32_t opened = OpenUpdatePackage(package, path.c_str());
    if (opened == kResultUnreadable) {
        error = "the file cannot be opened, or the payload's header or index is damaged";
        return false;
    }
    if (opened != 0) {
        error = "the file is too short for a payload, or the payload holds more than 256 entries";
        return false;
    }
    // The same checks, in the same order, as the updater makes before it copies anything; then the
    // checksums that the updater compares while copying.
    EntryTargets targets;
    if (CheckUpdatePackage(package, nullptr, targets, error) != 0)
        return false;
    std::vector<unsigned char> buffer(kCopyChunk);
    for (size_t i = 0; i < package.entries.size(); ++i) {
        const ArchiveEntry& e = package.entries[i];
        const int r = targets.records[i];
        if (targets.names[i].empty() || r == kNoRecord)
            continue;  // the version list itself, or a file installed unverified
        uint64_t value = 0;
        if (!ChecksumEntry(package, e, buffer.data(), value)) {
            error = "entry \"" + e.name + "\": cannot be read";
            return false;
        }
        if (value != package.records[r].value) {
            error = "entry \"" + e.name + "\": its bytes do not match the checksum of \"" + package.records[r].name + "\"";
            return false;
        }
    }
    return true;
}
