// mkupdate plan: the installation found, the dry run, and what it shows.
#include "tools/plan_command.h"

#include <cstdio>
#include <vector>

#include "tools/columns.h"
#include "tools/json.h"
#include "tools/registered_game.h"
#include "tools/updater_report.h"
#include "util/fs/system_names.h"
#include "util/text/encoding.h"

namespace {

// The installation plan reads: --game's folder, or (on Windows alone) the one the game is registered under,
// as the updater finds it. False with `problem` when there is none.
bool FindGame(const ReadOptions& options, std::wstring& game, std::string& problem)
{
    if (!options.game.empty()) {
        game = options.game;
        return true;
    }
    return FindRegisteredGame(game, problem);
}

const char* OutcomeName(VersionListOutcome outcome)
{
    switch (outcome) {
    case VersionListOutcome::Absent: return "absent";
    case VersionListOutcome::NotAVersionList: return "not a version list";
    case VersionListOutcome::Locked: return "cannot be read";
    case VersionListOutcome::Unencodable: return "a name does not fit";
    case VersionListOutcome::Unchanged: return "unchanged";
    default: return "updated";
    }
}

const char* UninstallListState(const UpdatePlan& plan)
{
    return plan.uninstallListUnchanged ? "unchanged" : plan.uninstallListUpdated ? "updated" : "cannot be read";
}

const char* ResultMeaning(const UpdatePlan& plan)
{
    const uint32_t result = plan.result;
    return result == 0                      ? "installation complete"
           : result == kResultNotApplicable ? "the update does not apply to the installed version, nothing changes"
           : result == kResultInstallFailed ? (plan.temporaryPathTooLong ? "a temporary file's path is too long, nothing changes"
                                                                         : "an installed file cannot be read, nothing changes")
                                            : "installed, but the lists not all updated";
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The action, the new size and checksum, the old ones when a file stands there, and a patch's base.
void PrintTarget(const PlannedTarget& t)
{
    printf("  %-9s %s new %9llu bytes %016llX", t.action, PadToWidth(t.target, 36).c_str(),
           static_cast<unsigned long long>(t.newSize), static_cast<unsigned long long>(t.newChecksum));
    if (t.installed)
        printf("  old %9llu bytes %016llX", static_cast<unsigned long long>(t.oldSize),
               static_cast<unsigned long long>(t.oldChecksum));
    if (!t.base.empty())
        printf("  from %s", t.base.c_str());
    printf("\n");
}

std::string TargetJson(const PlannedTarget& t)
{
    const std::string old =
        t.installed ? JsonObject().Number("size", t.oldSize).Value("checksum", JsonHex64(t.oldChecksum)).Str() : "null";
    return JsonObject()
        .Text("entry", t.entry)
        .Text("target", t.target)
        .Text("action", t.action)
        .Value("old", old)
        .Value("new", JsonObject().Number("size", t.newSize).Value("checksum", JsonHex64(t.newChecksum)).Str())
        .Value("base", t.base.empty() ? "null" : JsonString(t.base))
        .Str();
}

// Its records and bytes only when the run would write it.
std::string VersionListJson(const VersionListPlan& v)
{
    const bool updated = v.outcome == VersionListOutcome::Updated;
    return JsonObject()
        .Text("state", OutcomeName(v.outcome))
        .Value("records", updated ? JsonRecords(v.records) : "null")
        .Value("bytes", updated ? JsonHexBytes(v.bytes) : "null")
        .Str();
}

// Its lines and bytes only when the run would write it.
std::string UninstallListJson(const UpdatePlan& plan)
{
    std::vector<std::string> lines;
    for (const std::string& line : Lines(plan.uninstallList))
        lines.push_back(JsonString(line));
    const std::vector<unsigned char> bytes(plan.uninstallList.begin(), plan.uninstallList.end());
    const bool updated = plan.uninstallListUpdated;
    return JsonObject()
        .Text("state", UninstallListState(plan))
        .Value("lines", updated ? JsonArray(lines) : "null")
        .Value("bytes", updated ? JsonHexBytes(bytes) : "null")
        .Str();
}

}  // namespace

PlanResult PlanCommand(const ReadOptions& options)
{
    PlanResult result;
    result.updater = options.updater;
    if (!FindGame(options, result.game, result.problem)) {
        result.end = PlanEnd::NotRegistered;
        return result;
    }
    const int code = PlanUpdate(result.updater, result.game, result.plan, result.problem);
    result.end = code == 0 ? PlanEnd::Planned : code == 2 ? PlanEnd::BadInput : PlanEnd::Refused;
    return result;
}

void PrintPlanText(const PlanResult& result)
{
    if (result.end != PlanEnd::Planned)
        return;
    const UpdatePlan& plan = result.plan;
    printf("plan: %s on %s\n", ToUtf8(result.updater).c_str(), ToUtf8(result.game).c_str());
    for (const PlannedTarget& t : plan.targets)
        PrintTarget(t);
    for (const PlannedLeftover& l : plan.leftovers)
        printf("  leftover  %s: %s\n", PadToWidth(l.name, 36).c_str(), l.fate);
    if (!plan.asked)
        printf("told before the question: the update does not apply\n");
    printf("version list %s: %s\n", ToUtf8(kVersionListName).c_str(), OutcomeName(plan.versionList.outcome));
    if (plan.versionList.outcome == VersionListOutcome::Updated)
        PrintRecords(plan.versionList.records);
    printf("uninstall list %s: %s\n", ToUtf8(kUninstallListName).c_str(), UninstallListState(plan));
    for (const std::string& line : Lines(plan.uninstallList))
        printf("  line %s\n", line.c_str());
    printf("result: 0x%08X (%s)\n", plan.result, ResultMeaning(plan));
}

std::string PlanJson(const PlanResult& result)
{
    if (result.end != PlanEnd::Planned)
        return JsonVerdict(result.updater, result.problem).Str();
    const UpdatePlan& plan = result.plan;
    std::vector<std::string> targets, leftovers;
    for (const PlannedTarget& t : plan.targets)
        targets.push_back(TargetJson(t));
    for (const PlannedLeftover& l : plan.leftovers)
        leftovers.push_back(JsonObject().Text("name", l.name).Text("fate", l.fate).Str());
    return JsonVerdict(result.updater, "")
        .Text("game", ToUtf8(result.game))
        .Number("result", plan.result)
        .Value("asked", plan.asked ? "true" : "false")
        .Value("leftovers", JsonArray(leftovers))
        .Value("targets", JsonArray(targets))
        .Value("version_list", VersionListJson(plan.versionList))
        .Value("uninstall_list", UninstallListJson(plan))
        .Str();
}
