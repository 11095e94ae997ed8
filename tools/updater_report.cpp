// The verdict and the version records, as list, verify and plan print them.
#include "tools/updater_report.h"

#include <cstdio>

#include "tools/columns.h"
#include "util/text/encoding.h"

JsonObject JsonVerdict(const std::wstring& updater, const std::string& problem)
{
    JsonObject verdict;
    verdict.Text("file", ToUtf8(updater)).Text("verdict", problem.empty() ? "accepted" : "refused");
    return problem.empty() ? verdict.Null("problem") : verdict.Text("problem", problem);
}

std::string JsonRecords(const std::vector<VersionRecord>& records)
{
    std::vector<std::string> out;
    for (const VersionRecord& r : records)
        out.push_back(JsonObject().Text("name", r.name).Value("checksum", JsonHex64(r.value)).Str());
    return JsonArray(out);
}

void PrintRecords(const std::vector<VersionRecord>& records)
{
    for (const VersionRecord& r : records)
        printf("  record %s checksum %016llX\n", PadToWidth(r.name, 40).c_str(), static_cast<unsigned long long>(r.value));
}
