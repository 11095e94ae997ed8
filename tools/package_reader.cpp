// Reading and verifying an updater file with the same readers the updater uses.
#include "tools/package_reader.h"

#include <windows.h>

#include <algorithm>

#include "app/app_state.h"
#include "app/title_block.h"
#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "update/package_layout.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/relative_path.h"

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

bool VerifyUpdaterFile(const std::wstring& path, const UpdaterContents& contents, std::string& error)
{
    if (!contents.hasVersionList) {
        error = "the payload has no readable version list \"KPX.hvl\"; nothing would be verified";
        return false;
    }
    CFileDX file;
    if (!file.Open(path.c_str())) {
        error = "cannot open the file";
        return false;
    }
    std::vector<bool> recordUsed(contents.records.size(), false);
    std::vector<unsigned char> buffer(0x100000);
    for (const ArchiveEntry& e : contents.entries) {
        const int r = FindRecordByFileName(contents.records, contents.versionHeader.count, e.name);
        const std::string& target = r == kNoRecord ? e.name : contents.records[r].name;
        if (SameArchiveName(target, kVersionListKey)) {
            // The updater reads only names and values; a list that is not exactly its own encoding
            // (stray bytes behind a name, a size that disagrees) is damaged all the same.
            std::vector<unsigned char> expected, stored(e.size);
            if (!EncodeVersionList(contents.versionHeader, contents.records, expected) || expected.size() != e.size ||
                !file.Seek(static_cast<int64_t>(PayloadOffset + e.position)) ||
                (e.size && file.Read(stored.data(), e.size) != e.size) || stored != expected) {
                error = "entry \"" + e.name + "\": the version list is damaged";
                return false;
            }
            continue;
        }
        std::wstring wideTarget;
        if (!MultiByteToWide(target.c_str(), wideTarget) || !IsSafeRelativePath(wideTarget)) {
            error = "entry \"" + e.name + "\": its install path \"" + target + "\" leaves the installation folder";
            return false;
        }
        if (PayloadOffset + e.position + e.size > contents.fileSize) {
            error = "entry \"" + e.name + "\": its data runs past the end of the file (truncated?)";
            return false;
        }
        if (r == kNoRecord)
            continue;  // installed unverified, as the updater does with files the version list does not name
        recordUsed[r] = true;
        ContentChecksum checksum{};
        if (!file.Seek(static_cast<int64_t>(PayloadOffset + e.position))) {
            error = "entry \"" + e.name + "\": cannot be read";
            return false;
        }
        for (uint32_t done = 0; done < e.size;) {
            uint32_t n = std::min<uint32_t>(0x100000, e.size - done);
            if (file.Read(buffer.data(), n) != n) {
                error = "entry \"" + e.name + "\": cannot be read";
                return false;
            }
            UpdateContentChecksum(checksum, buffer.data(), n);
            done += n;
        }
        if (StoredChecksum(checksum) != contents.records[r].value) {
            error = "entry \"" + e.name + "\": its bytes do not match the checksum of \"" + target + "\"";
            return false;
        }
    }
    for (size_t i = 0; i < contents.records.size(); ++i) {
        if (!recordUsed[i]) {
            error = "version record \"" + contents.records[i].name + "\" names no entry of the payload";
            return false;
        }
    }
    return true;
}
