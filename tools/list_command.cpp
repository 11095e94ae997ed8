// mkupdate list: an updater's title, entries, version records and deltas.
#include "tools/list_command.h"

#include <algorithm>
#include <cstdio>

#include "archive/entry_lists.h"
#include "tools/columns.h"
#include "tools/json.h"
#include "tools/updater_report.h"
#include "update/package/package.h"

namespace {

// The compression record of an entry, or null for one stored as it is.
const CompressionRecord* CompressionOf(const UpdaterContents& c, const ArchiveEntry& e)
{
    for (const CompressionRecord& r : c.compressed)
        if (SameArchiveName(r.entry, e.name))
            return &r;
    return nullptr;
}

std::string JsonEntries(const UpdaterContents& c)
{
    std::vector<std::string> entries;
    for (size_t i = 0; i < c.entries.size(); ++i) {
        const CompressionRecord* r = CompressionOf(c, c.entries[i]);
        entries.push_back(JsonObject()
                              .Text("name", c.entries[i].name)
                              .Number("offset", c.storedOffsets[i])
                              .Number("size", StoredSize(c.entries[i]))
                              .Text("form", r ? "zstd" : "stored")
                              .Number("content_size", r ? r->contentSize : StoredSize(c.entries[i]))
                              .Str());
    }
    return JsonArray(entries);
}

std::string JsonCompressed(const std::vector<CompressionRecord>& records)
{
    std::vector<std::string> out;
    for (const CompressionRecord& r : records)
        out.push_back(JsonObject()
                          .Text("entry", r.entry)
                          .Number("stored_size", r.storedSize)
                          .Number("content_size", r.contentSize)
                          .Value("stored_checksum", JsonHex64(r.storedChecksum))
                          .Value("content_checksum", JsonHex64(r.contentChecksum))
                          .Str());
    return JsonArray(out);
}

std::string JsonDeltas(const std::vector<DeltaRecord>& deltas)
{
    std::vector<std::string> out;
    for (const DeltaRecord& d : deltas)
        out.push_back(JsonObject()
                          .Text("entry", d.entry)
                          .Text("target", d.target)
                          .Number("base_size", d.baseSize)
                          .Value("base_checksum", JsonHex64(d.baseChecksum))
                          .Value("delta_checksum", JsonHex64(d.deltaChecksum))
                          .Number("target_size", d.targetSize)
                          .Value("target_checksum", JsonHex64(d.targetChecksum))
                          .Str());
    return JsonArray(out);
}

// One line a delta; its size is its entry's.
void PrintDeltas(const UpdaterContents& c)
{
    printf("deltas: %zu\n", c.deltas.size());
    for (const DeltaRecord& d : c.deltas) {
        const auto entry = std::find_if(c.entries.begin(), c.entries.end(),
                                        [&](const ArchiveEntry& e) { return SameArchiveName(e.name, d.entry); });
        printf("  delta %s base %016llX  delta %9u bytes  target %9llu bytes  (%s)\n", PadToWidth(d.target, 40).c_str(),
               static_cast<unsigned long long>(d.baseChecksum), entry == c.entries.end() ? 0u : StoredSize(*entry),
               static_cast<unsigned long long>(d.targetSize), d.entry.c_str());
    }
}

}  // namespace

ListResult ListCommand(const ReadOptions& options)
{
    ListResult result;
    result.updater = options.updater;
    ReadUpdaterFile(options.updater, result.contents, result.problem);
    return result;
}

void PrintListText(const ListResult& result)
{
    if (!result.problem.empty())
        return;
    const UpdaterContents& c = result.contents;
    printf("title: %s\n", c.title.c_str());
    printf("certificate: %s\n", c.hasCertificate ? "present (not validated here)" : "none");
    printf("entries: %u\n", c.header.count);
    for (size_t i = 0; i < c.entries.size(); ++i) {
        const CompressionRecord* r = CompressionOf(c, c.entries[i]);
        printf("  entry %s offset 0x%08X  size 0x%08X (%u bytes)", PadToWidth(c.entries[i].name, 40).c_str(),
               c.storedOffsets[i], StoredSize(c.entries[i]), StoredSize(c.entries[i]));
        if (r)
            printf("  zstd, content %llu bytes", static_cast<unsigned long long>(r->contentSize));
        printf("\n");
    }
    if (!c.compressed.empty()) {
        uint64_t stored = 0, content = 0;
        for (const CompressionRecord& r : c.compressed) {
            stored += r.storedSize;
            content += r.contentSize;
        }
        printf("compressed: %s (zstd), %llu bytes stored for %llu bytes of content\n",
               Counted(c.compressed.size(), "entry", "entries").c_str(), static_cast<unsigned long long>(stored),
               static_cast<unsigned long long>(content));
    }
    if (!c.hasVersionList) {
        printf("version list: none\n");
        return;
    }
    printf("version records: %u\n", c.versionHeader.count);
    PrintRecords(c.records);
    if (!c.deltas.empty())
        PrintDeltas(c);
}

std::string ListJson(const ListResult& result)
{
    if (!result.problem.empty())
        return JsonVerdict(result.updater, result.problem).Str();
    const UpdaterContents& c = result.contents;
    std::string list = "null";
    if (c.hasVersionList)
        list = JsonObject()
                   .Text("magic", std::string(c.versionHeader.magic, 8))
                   .Value("records", JsonRecords(c.records))
                   .Str();
    return JsonVerdict(result.updater, "")
        .Number("size", c.fileSize)
        .Text("title", c.title)
        .Bool("certificate", c.hasCertificate)
        .Text("archive_magic", std::string(c.header.magic, 12))
        .Value("entries", JsonEntries(c))
        .Value("version_list", list)
        .Value("deltas", JsonDeltas(c.deltas))
        .Value("compressed", JsonCompressed(c.compressed))
        .Str();
}
