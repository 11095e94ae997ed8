// What the reports of list, verify and plan share: the verdict every JSON document opens with, and the
// version records in both forms.
#pragma once
#include <string>
#include <vector>

#include "archive/version_list.h"
#include "tools/json.h"

// {"file": ..., "verdict": "accepted" or "refused", "problem": null or the problem}, for more members to
// follow.
JsonObject JsonVerdict(const std::wstring& updater, const std::string& problem);
// [{"name": ..., "checksum": ...}, ...]
std::string JsonRecords(const std::vector<VersionRecord>& records);
// One line a version record on stdout, the checksums in one column whatever the names' scripts.
void PrintRecords(const std::vector<VersionRecord>& records);
