// Reading and verifying an updater file with the same readers the updater uses.
#include "tools/package_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/checksum.h"
#include "archive/entry_lists.h"
#include "archive/read_le.h"
#include "compress/zstd_frame_reader.h"
#include "update/package/delta_entry.h"
#include "update/package/entry_content.h"
#include "update/package/package_checks.h"
#include "update/package/title_block.h"
#include "tools/package_deltas.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/io/read_ahead.h"
#include "util/text/encoding.h"

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

// A delta entry, checked without its base: its bytes against the table's checksum, its windows' structure
// and bounds against the base's size, and what it produces against the target's size.
bool CheckDeltaEntry(UpdatePackage& package, size_t i, int d, ZstdFrameReader& frames, std::vector<unsigned char>& buffer,
                     uint64_t& checksum, std::string& error)
{
    const ArchiveEntry& e = package.entries[i];
    const DeltaRecord& record = package.deltas[d];
    const std::string named = "delta \"" + e.name + "\" of \"" + record.target + "\": ";
    EntryContent content(package, e, &frames);
    if (!content.Begin()) {
        error = named + content.Problem();
        return false;
    }
    DeltaEntryInput input(content);
    DeltaResult result;
    const bool walked = CheckDeltaStructure(input, record.baseSize, result, record.targetSize);
    if (!input.Finish(buffer.data(), static_cast<uint32_t>(buffer.size()))) {
        error = named + content.Problem();
        return false;
    }
    checksum = input.Checksum();
    if (checksum != record.deltaChecksum)
        error = named + "its bytes do not match its checksum";
    else if (!walked)
        error = named + result.problem;
    else if (result.targetSize != record.targetSize)
        error = named + "it gives " + std::to_string(result.targetSize) + " bytes, not the target's " +
                std::to_string(record.targetSize);
    return error.empty();
}

// Checksums the entries `order` (by position) in one stream over the range they span, the bytes between
// them read and passed over: a payload of many small entries then reads and checksums as one large file
// does, the reading and the checksum overlapping. False, with nothing set, when the entries overlap or leave
// much unread between them (a package the builder did not make), or the range cannot be read: each entry is
// then read on its own.
bool ChecksumRange(UpdatePackage& package, const std::vector<size_t>& order, std::vector<unsigned char>& buffer,
                   ReadAheadThread& reader, std::vector<uint64_t>& checksums)
{
    uint64_t inEntries = 0;
    for (size_t k = 0; k < order.size(); ++k) {
        const ArchiveEntry& e = package.entries[order[k]];
        inEntries += StoredSize(e);
        if (k + 1 < order.size() && e.position + StoredSize(e) > package.entries[order[k + 1]].position)
            return false;
    }
    const uint64_t start = package.entries[order.front()].position;
    const uint64_t end = package.entries[order.back()].position + StoredSize(package.entries[order.back()]);
    if (end - start > inEntries + inEntries / 8 + (1u << 20) || !package.file.Seek(static_cast<int64_t>(kPayloadOffset + start)))
        return false;
    std::vector<ContentChecksum> sums(order.size());
    size_t k = 0;  // the first entry not wholly passed yet
    uint64_t at = start;
    const bool read = StreamWithReadAhead(package.file, end - start, kToolChunk, buffer.data(),
                                          [&](const unsigned char* bytes, uint32_t n) {
                                              const uint64_t chunkEnd = at + n;
                                              for (; k < order.size(); ++k) {
                                                  const ArchiveEntry& e = package.entries[order[k]];
                                                  const uint64_t from = std::max(at, e.position);
                                                  const uint64_t to = std::min(chunkEnd, e.position + StoredSize(e));
                                                  if (from < to)
                                                      UpdateContentChecksum(sums[k], bytes + (from - at), static_cast<uint32_t>(to - from));
                                                  if (e.position + StoredSize(e) > chunkEnd)
                                                      break;  // it goes on in the next chunk
                                              }
                                              at = chunkEnd;
                                              return true;
                                          },
                                          nullptr, &reader);
    if (!read)
        return false;
    for (size_t j = 0; j < order.size(); ++j)
        checksums[order[j]] = StoredChecksum(sums[j]);
    return true;
}

// A compressed entry's content checksum, its frame and its stored bytes checked on the way. False with the
// problem when it does not decompress whole.
bool ChecksumCompressed(UpdatePackage& package, const ArchiveEntry& e, ZstdFrameReader& frames,
                        std::vector<unsigned char>& buffer, uint64_t& value, std::string& problem)
{
    EntryContent content(package, e, &frames);
    ContentChecksum checksum{};
    bool read = content.Begin();
    for (uint32_t left = content.Size(); read && left > 0;) {
        const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(buffer.size()));
        read = content.Read(buffer.data(), n);
        UpdateContentChecksum(checksum, buffer.data(), read ? n : 0);
        left -= n;
    }
    if (!read || !content.Finish()) {
        problem = content.Problem();
        return false;
    }
    value = StoredChecksum(checksum);
    if (!content.ContentMatches(value)) {
        problem = "its content does not match the compression table's checksum";
        return false;
    }
    return true;
}

}  // namespace

std::vector<unsigned char> ToolStreamBuffer() { return std::vector<unsigned char>(kReadAheadChunks * kToolChunk); }

bool ChecksumStream(CFileDX& file, uint64_t length, std::vector<unsigned char>& buffer, uint64_t& value,
                    ReadAheadThread* reader)
{
    ContentChecksum checksum{};
    const bool read = StreamWithReadAhead(file, length, kToolChunk, buffer.data(),
                                          [&](const unsigned char* bytes, uint32_t n) {
                                              UpdateContentChecksum(checksum, bytes, n);
                                              return true;
                                          },
                                          nullptr, reader);
    value = StoredChecksum(checksum);
    return read;
}

bool ReadUpdaterFile(const std::wstring& path, UpdaterContents& contents, std::string& error)
{
    // The container and its version list are read by the updater's own functions.
    UpdatePackage package;
    const uint32_t opened = OpenUpdatePackage(package, path.c_str());
    const uint32_t size = package.file.IsOpen() ? package.file.GetSize() : 0xFFFFFFFF;
    if (opened != kResultSuccess && (!package.file.IsOpen() || size == 0xFFFFFFFF)) {
        error = "cannot open the file";
        return false;
    }
    if (opened != kResultSuccess && size < kPayloadOffset) {
        error = "the file is shorter than 0xA0400 bytes: it carries no title block and payload";
        return false;
    }
    contents.fileSize = size;
    FindCertificate(package.file, size, contents);

    // Read exactly as the updater reads its own caption.
    wchar_t title[kTitleBlockSize];
    if (!ReadTitleBlock(title, path.c_str()) || !WideToMultiByte(title, Encoding::Utf8, contents.title)) {
        error = "the title block cannot be read";
        return false;
    }
    if (opened == kResultUnreadable) {
        error = "the payload's header or index is damaged";
        return false;
    }
    if (opened != kResultSuccess) {
        error = "the payload holds " + std::to_string(package.header.count) + " entries; at most 256 are allowed";
        return false;
    }
    if (LoadPayloadVersionList(package) != kResultSuccess) {
        error = std::string("the payload's version list \"") + kPayloadVersionListName + "\" is damaged";
        return false;
    }
    std::string fault;
    if (LoadPayloadDeltaTable(package, fault) != kResultSuccess) {
        error = std::string("the payload's delta table \"") + kDeltaTableName + "\" is damaged: " + fault;
        return false;
    }
    if (LoadPayloadCompressionTable(package, fault) != kResultSuccess) {
        error = std::string("the payload's compression table \"") + kCompressionTableName + "\" is damaged: " + fault;
        return false;
    }
    contents.deltas = package.deltas;
    contents.compressed = package.compressed;
    contents.header = package.header;
    contents.entries = package.entries;
    const uint64_t dataStart = kArchiveHeaderSize + static_cast<uint64_t>(contents.header.count) * ArchiveRecordSize(contents.header.magic);
    for (const ArchiveEntry& e : contents.entries)
        contents.storedOffsets.push_back(static_cast<uint32_t>(e.position - dataStart));
    contents.hasVersionList = std::any_of(contents.entries.begin(), contents.entries.end(),
                                          [&](const ArchiveEntry& e) { return KindOfEntry(package, e.name) == EntryKind::VersionList; });
    contents.versionHeader = package.versionHeader;
    contents.records = package.records;
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
    ReadAheadThread reader;  // one for all the entries: a thread's start costs as much as a small file
    ZstdFrameReader frames;
    if (!package.compressed.empty() && !frames.Ready()) {
        error = "not enough memory for the zstd decoder";
        return false;
    }
    std::vector<size_t> whole;  // the stored entries checked by their checksum, by position
    for (size_t i = 0; i < package.entries.size(); ++i)
        if (!targets.names[i].empty() && targets.deltas[i] == kNoDelta &&
            CompressionRecordOf(package, package.entries[i].name) == kStoredAsIs)
            whole.push_back(i);
    std::sort(whole.begin(), whole.end(), [&](size_t a, size_t b) { return package.entries[a].position < package.entries[b].position; });
    const bool streamed = !whole.empty() && ChecksumRange(package, whole, buffer, reader, checksums);
    for (size_t i = 0; i < package.entries.size(); ++i) {
        const ArchiveEntry& e = package.entries[i];
        if (targets.names[i].empty())
            continue;  // the version list itself, or the delta table
        if (targets.deltas[i] != kNoDelta) {
            if (!CheckDeltaEntry(package, i, targets.deltas[i], frames, buffer, checksums[i], error))
                return false;
            continue;
        }
        std::string problem;
        if (CompressionRecordOf(package, e.name) != kStoredAsIs) {
            if (!ChecksumCompressed(package, e, frames, buffer, checksums[i], problem)) {
                error = "entry \"" + e.name + "\": " + problem;
                return false;
            }
        } else if (!streamed && (!SeekToEntry(package, e) || !ChecksumStream(package.file, StoredSize(e), buffer, checksums[i], &reader))) {
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

namespace {

class ChecksumOutput : public DeltaOutput {
public:
    bool Write(const unsigned char* data, uint32_t size) override
    {
        UpdateContentChecksum(checksum, data, size);
        written += size;
        return true;
    }
    ContentChecksum checksum{};
    uint64_t written = 0;
};

}  // namespace

bool ApplyDeltasToBases(UpdatePackage& package, const EntryTargets& targets, const std::vector<std::wstring>& bases,
                        std::vector<AppliedDelta>& applied, std::string& error)
{
    std::vector<unsigned char> buffer = ToolStreamBuffer();
    ZstdFrameReader frames;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (targets.deltas[i] == kNoDelta)
            continue;
        const DeltaRecord& record = package.deltas[targets.deltas[i]];
        AppliedDelta a;
        a.entry = package.entries[i].name;
        a.target = record.target;
        for (const std::wstring& folder : bases) {
            std::wstring file;
            CFileDX base;
            uint64_t size = 0, checksum = 0;
            if (!FindInFolder(folder, targets.names[i], file) || !FileSizeOf(file, size) || size != record.baseSize)
                continue;
            if (!base.Open(file.c_str()) || !ChecksumStream(base, size, buffer, checksum)) {
                error = "cannot read \"" + ToUtf8(file) + "\"";
                return false;
            }
            if (checksum != record.baseChecksum)
                continue;
            a.base = file;
            DeltaFileBase from(base, size);
            EntryContent content(package, package.entries[i], &frames);
            DeltaEntryInput input(content);
            ChecksumOutput output;
            DeltaResult result;
            a.gaveTarget = content.Begin() && ApplyDelta(input, from, output, result) &&
                           input.Finish(buffer.data(), static_cast<uint32_t>(buffer.size())) &&
                           output.written == record.targetSize &&
                           StoredChecksum(output.checksum) == package.records[targets.records[i]].value;
            break;
        }
        applied.push_back(a);
    }
    return true;
}
