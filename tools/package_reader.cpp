// Reading and verifying an updater file with the same readers the updater uses.
#include "tools/package_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "archive/read_le.h"
#include "update/package_checks.h"
#include "update/title_block.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/read_ahead.h"

namespace {

// The PE layout read here: the DOS header's pointer to the PE header; the PE signature, the file header and
// the optional header's magic; the optional header's data directories (8 bytes each), after 96 bytes of it
// in PE32 and 112 in PE32+.
const uint32_t kDosHeaderSize = 64;
const uint32_t kPeHeaderPointer = 0x3C;
const uint32_t kPeSignatureAndFileHeader = 24;  // "PE\0\0", then the 20-byte file header
const uint32_t kOptionalMagicSize = 2;
const uint16_t kPe32Magic = 0x10B, kPe32PlusMagic = 0x20B;
const uint32_t kPe32DirectoriesAt = 96, kPe32PlusDirectoriesAt = 112;
const uint32_t kDirectoryEntrySize = 8;          // address u32, size u32
const uint32_t kCertificateDirectory = 4;        // its address is a file offset

// The PE image's certificate table: where a signing tool put the Authenticode signature, behind everything
// else in the file.
void FindCertificate(CFileDX& file, uint32_t fileSize, UpdaterContents& contents)
{
    unsigned char dos[kDosHeaderSize], pe[kPeSignatureAndFileHeader + kOptionalMagicSize];
    if (!file.Seek(0) || file.Read(dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z')
        return;
    const uint32_t header = ReadU32(dos + kPeHeaderPointer);
    if (fileSize < sizeof pe || header > fileSize - sizeof pe || !file.Seek(header) ||
        file.Read(pe, sizeof pe) != sizeof pe || memcmp(pe, "PE\0\0", 4) != 0)
        return;
    const uint32_t magic = pe[kPeSignatureAndFileHeader] | (pe[kPeSignatureAndFileHeader + 1] << 8);
    const uint32_t at = magic == kPe32PlusMagic ? kPe32PlusDirectoriesAt : magic == kPe32Magic ? kPe32DirectoriesAt : 0;
    unsigned char entry[kDirectoryEntrySize];
    const uint64_t directory = static_cast<uint64_t>(header) + kPeSignatureAndFileHeader + at +
                               kCertificateDirectory * kDirectoryEntrySize;
    if (at == 0 || directory > fileSize || !file.Seek(static_cast<int64_t>(directory)) ||
        file.Read(entry, sizeof entry) != sizeof entry)
        return;
    contents.certificateOffset = ReadU32(entry);
    contents.certificateSize = ReadU32(entry + 4);
    contents.hasCertificate = contents.certificateSize != 0 &&
                              static_cast<uint64_t>(contents.certificateOffset) + contents.certificateSize <= fileSize;
}

}  // namespace

std::vector<unsigned char> ToolStreamBuffer() { return std::vector<unsigned char>(kReadAheadChunks * kToolChunk); }

bool ChecksumStream(CFileDX& file, uint64_t length, std::vector<unsigned char>& buffer, uint64_t& value)
{
    ContentChecksum checksum{};
    const bool read = StreamWithReadAhead(file, length, kToolChunk, buffer.data(),
                                          [&](const unsigned char* bytes, uint32_t n) {
                                              UpdateContentChecksum(checksum, bytes, n);
                                              return true;
                                          });
    value = StoredChecksum(checksum);
    return read;
}

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
    FindCertificate(file, size, contents);

    // Read exactly as the updater reads its own caption.
    wchar_t title[kTitleBlockSize];
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
    const uint64_t dataStart = kArchiveHeaderSize + static_cast<uint64_t>(contents.header.count) * ArchiveRecordSize(contents.header.magic);
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

bool CheckUpdaterFile(const std::wstring& path, const FolderReader* folder, UpdatePackage& package, EntryTargets& targets,
                      std::vector<uint64_t>& checksums, std::string& error)
{
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
    if (CheckUpdatePackage(package, folder, targets, error) != 0)
        return false;
    checksums.assign(package.entries.size(), 0);
    std::vector<unsigned char> buffer = ToolStreamBuffer();
    for (size_t i = 0; i < package.entries.size(); ++i) {
        const ArchiveEntry& e = package.entries[i];
        if (targets.names[i].empty())
            continue;  // the version list itself
        if (!SeekToEntry(package, e) || !ChecksumStream(package.file, e.size, buffer, checksums[i])) {
            error = "entry \"" + e.name + "\": cannot be read";
            return false;
        }
        const int r = targets.records[i];
        if (r != kNoRecord && checksums[i] != package.records[r].value) {
            error = "entry \"" + e.name + "\": its bytes do not match the checksum of \"" + package.records[r].name + "\"";
            return false;
        }
    }
    return true;
}

bool VerifyUpdaterFile(const std::wstring& path, std::string& error)
{
    UpdatePackage package;
    EntryTargets targets;
    std::vector<uint64_t> checksums;
    return CheckUpdaterFile(path, nullptr, package, targets, checksums, error);
}
