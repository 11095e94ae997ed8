// mkupdate verify: the package checks, every checksum, and the deltas applied to earlier versions' files.
#include "tools/verify_command.h"

#include <cstdio>

#include "tools/columns.h"
#include "tools/json.h"
#include "tools/updater_report.h"
#include "util/text/encoding.h"

VerifyResult VerifyCommand(const ReadOptions& options)
{
    VerifyResult result;
    result.updater = options.updater;
    result.withBases = !options.bases.empty();
    UpdatePackage package;
    EntryTargets targets;
    std::vector<uint64_t> checksums;
    if (!ReadUpdaterFile(options.updater, result.contents, result.problem) ||
        !CheckUpdaterFile(options.updater, nullptr, package, targets, checksums, result.problem))
        return result;
    if (result.withBases && !ApplyDeltasToBases(package, targets, options.bases, result.applied, result.unreadableBase))
        return result;
    for (const AppliedDelta& a : result.applied)
        if (!a.base.empty() && !a.gaveTarget && result.wrongDelta.empty())
            result.wrongDelta = "delta \"" + a.entry + "\" applied to \"" + ToUtf8(a.base) + "\" does not give \"" +
                                a.target + "\"";
    return result;
}

void PrintVerifyText(const VerifyResult& result)
{
    if (!result.problem.empty() || !result.unreadableBase.empty() || !result.wrongDelta.empty())
        return;
    const UpdaterContents& c = result.contents;
    const std::string updater = ToUtf8(result.updater);
    if (!c.hasVersionList) {
        printf("mkupdate: %s would install: %s, no version list: every entry installs unchecked under its own name\n",
               updater.c_str(), Counted(c.entries.size(), "entry", "entries").c_str());
        return;
    }
    printf("mkupdate: %s would install: %s, %s, every checksum matches\n", updater.c_str(),
           Counted(c.entries.size(), "entry", "entries").c_str(),
           Counted(c.records.size(), "version record", "version records").c_str());
    if (!c.deltas.empty())
        printf("mkupdate: %s, each sound for its base's size\n", Counted(c.deltas.size(), "delta", "deltas").c_str());
    if (!c.compressed.empty())
        printf("mkupdate: %s stored compressed, each decompressed and its frame and checksums checked\n",
               Counted(c.compressed.size(), "entry", "entries").c_str());
    for (const AppliedDelta& a : result.applied)
        printf("  %s %s: %s\n", a.base.empty() ? "no base for" : "applied", a.target.c_str(),
               a.base.empty() ? "none of the folders holds its base" : ToUtf8(a.base).c_str());
}

std::string VerifyJson(const VerifyResult& result)
{
    if (!result.problem.empty())
        return JsonVerdict(result.updater, result.problem).Str();
    std::vector<std::string> bases;
    for (const AppliedDelta& a : result.applied)
        bases.push_back(JsonObject()
                            .Text("entry", a.entry)
                            .Text("target", a.target)
                            .Value("base", a.base.empty() ? "null" : JsonString(ToUtf8(a.base)))
                            .Bool("gives_target", a.gaveTarget)
                            .Str());
    const UpdaterContents& c = result.contents;
    return JsonVerdict(result.updater, result.wrongDelta)
        .Number("entries", c.entries.size())
        .Number("records", c.records.size())
        .Bool("version_list", c.hasVersionList)
        .Number("deltas", c.deltas.size())
        .Number("compressed", c.compressed.size())
        .Value("applied", result.withBases ? JsonArray(bases) : "null")
        .Str();
}
