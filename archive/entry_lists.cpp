// Entry-name keys and the version-record operations of an update. Nothing is sorted: lookups scan in
// list order and the first match wins.
#include "archive/entry_lists.h"

#include <algorithm>

#include "util/fs/relative_path.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

bool ArchiveNameKey(const std::string& name, std::string& key)
{
    if (name.size() > kMaxKeyBytes)
        return false;
    key = name;
    ToLowerAscii(key);
    return true;
}

bool SameArchiveName(const std::string& a, const std::string& b)
{
    std::string ka, kb;
    return ArchiveNameKey(a, ka) && ArchiveNameKey(b, kb) && StrCompare(ka.c_str(), kb.c_str()) == 0;
}

bool SameRecordName(std::string a, std::string b)
{
    return a.size() <= kMaxKeyBytes && b.size() <= kMaxKeyBytes && SameRelativePath(a, b);
}

int FindRecordByFileName(const std::vector<VersionRecord>& records, uint32_t count, const std::string& entryName)
{
    return RecordsByFileName(records, count).Find(entryName);
}

RecordsByFileName::RecordsByFileName(const std::vector<VersionRecord>& records, uint32_t count)
{
    const uint32_t n = count < records.size() ? count : static_cast<uint32_t>(records.size());
    for (uint32_t i = 0; i < n; ++i) {
        std::string name, ext, key;
        if (SplitPath(nullptr, nullptr, &name, &ext, records[i].name.c_str()) && ArchiveNameKey(name + ext, key))
            first_.emplace(std::move(key), static_cast<int>(i));  // an earlier record keeps the key
    }
}

int RecordsByFileName::Find(const std::string& entryName) const
{
    std::string entryKey;
    if (!ArchiveNameKey(entryName, entryKey))
        return kNoRecord;
    const auto found = first_.find(entryKey);
    return found == first_.end() ? kNoRecord : found->second;
}

void MergeVersionRecords(VersionListHeader& installedHeader, std::vector<VersionRecord>& installed,
                         const std::vector<VersionRecord>& payload)
{
    // Records appended below are not searched by later payload records.
    size_t n = installedHeader.count < installed.size() ? installedHeader.count : installed.size();
    installed.resize(n);
    for (const VersionRecord& p : payload) {
        bool merged = false;
        for (size_t i = 0; i < n;) {
            if (!SameRecordName(installed[i].name, p.name)) {
                ++i;
            } else if (!merged) {
                installed[i++].value = p.value;
                merged = true;
            } else {
                // The same file recorded again under another spelling: one file, one record.
                installed.erase(installed.begin() + static_cast<std::ptrdiff_t>(i));
                --n;
            }
        }
        if (!merged)
            installed.push_back(p);
    }
    installedHeader.count = static_cast<uint32_t>(installed.size());
}
