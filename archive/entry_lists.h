// Name matching and the operations on version records: finding an entry's record, merging the payload's
// records into the installed list, and dropping records whose files are gone.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "archive/version_list.h"


const int kNoRecord = -1;
// Longest name, in bytes, that takes part in matching; a longer one never matches anything.
const size_t kMaxKeyBytes = 783;

// The form in which names are compared: the UTF-8 name with ASCII capitals lowered. False when the
// name exceeds kMaxKeyBytes.
bool ArchiveNameKey(const std::string& name, std::string& key);
bool SameArchiveName(const std::string& a, const std::string& b);
// Two paths below the installation folder as version records name them, as Windows resolves them to one file
// (SameRelativePath).
bool SameRecordName(std::string a, std::string b);

// Index of the first of records[0..count) whose file-name part (name and extension) has the entry's key,
// or kNoRecord.
int FindRecordByFileName(const std::vector<VersionRecord>& records, uint32_t count, const std::string& entryName);
// The same for many entries: the records' file-name keys taken once.
class RecordsByFileName {
public:
    RecordsByFileName(const std::vector<VersionRecord>& records, uint32_t count);
    int Find(const std::string& entryName) const;

private:
    std::map<std::string, int> first_;  // a file-name key, and the first record that has it
};

// Installed records matching a payload record by whole-name key take its value and keep their own name;
// payload records without a partner among the originally installed ones are appended in payload order.
void MergeVersionRecords(VersionListHeader& installedHeader, std::vector<VersionRecord>& installed,
                         const std::vector<VersionRecord>& payload);
