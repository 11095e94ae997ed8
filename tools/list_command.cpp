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

std::string JsonEntries(const UpdaterContents& c)
{
    std::vector<std::string> entries;
    for (size_t i = 0; i < c.entries.size(); ++i)
        entries.push_back(JsonObject()
                              .Text("name", c.entries[i].name)
                              .Number("offset", c.storedOffsets[i])
                              .Number("size", StoredSize(c.entries[i]))
                              .Str());
    return JsonArray(entries);
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
    for (size_t i = 0; i < c.entries.size(); ++i)
        printf("  entry %s offset 0x%08X  size 0x%08X (%u bytes)\n", PadToWidth(c.entries[i].name, 40).c_str(),
               c.storedOffsets[i], StoredSize(c.entries[i]), StoredSize(c.entries[i]));
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
        .Str();
}
