// mkupdate: makes the self-contained updater from the bare program and the files to ship, lists what an
// updater carries, and verifies it the way the updater will. The same program on Windows and, natively,
// on the studio's Linux build servers: same options, output, JSON and exit codes.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "install/installed_folder.h"
#include "tools/columns.h"
#include "tools/command_options.h"
#include "tools/delta_files.h"
#include "tools/json.h"
#include "tools/list_command.h"
#include "tools/package_builder.h"
#include "tools/package_reader.h"
#include "tools/update_plan.h"
#include "tools/updater_report.h"
#include "tools/usage_texts.h"
#include "tools/verify_command.h"
#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

namespace {

int Fail(const std::string& message)
{
    fprintf(stderr, "mkupdate: %s\n", message.c_str());
    return 1;
}

int Usage(const char* usage, const std::string& problem)
{
    fprintf(stderr, "mkupdate: %s\n\n%s", problem.c_str(), usage);
    return 2;
}

// The exit code of arguments that stop a command before it runs, after printing what they end with.
int Stopped(const ParseOutcome& parsed, const char* usage)
{
    switch (parsed.end) {
    case ParseEnd::Help:
        fputs(usage, stdout);
        return 0;
    case ParseEnd::BadUsage:
        return Usage(usage, parsed.problem);
    case ParseEnd::Unreadable:
        return Fail(parsed.problem);
    default:
        fprintf(stderr, "mkupdate: %s\n", parsed.problem.c_str());
        return 2;
    }
}

int Build(const BuildOptions& options)
{
    std::string error;
    size_t leftOut = 0;
    if (!BuildUpdater(options, error, &leftOut))
        return Fail(error);
    if (leftOut == 0)
        printf("mkupdate: wrote %s (%zu files)\n", ToUtf8(options.output.c_str()).c_str(), options.files.size());
    else
        printf("mkupdate: wrote %s (%zu files; %zu unchanged in every base left out)\n",
               ToUtf8(options.output.c_str()).c_str(), options.files.size() - leftOut, leftOut);
    return 0;
}

int Refused(const ReadOptions& o, const std::string& problem)
{
    if (o.json)
        printf("%s\n", JsonVerdict(o.updater, problem).Str().c_str());
    return Fail(problem);
}

int List(const ReadOptions& o)
{
    const ListResult result = ListCommand(o);
    if (o.json)
        printf("%s\n", ListJson(result).c_str());
    else
        PrintListText(result);
    return result.problem.empty() ? 0 : Fail(result.problem);
}

int Verify(const ReadOptions& o)
{
    const VerifyResult result = VerifyCommand(o);
    if (!result.unreadableBase.empty())
        return Usage(kVerifyUsage, result.unreadableBase);
    if (o.json)
        printf("%s\n", VerifyJson(result).c_str());
    else
        PrintVerifyText(result);
    if (!result.problem.empty())
        return Fail(result.problem);
    // A document that names the delta is the whole answer; text names it on stderr.
    if (!result.wrongDelta.empty())
        return o.json ? 1 : Fail(result.wrongDelta);
    return 0;
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

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

int Plan(ReadOptions& o)
{
    if (o.game.empty()) {
#if defined(_WIN32)
        wchar_t folder[kFolderCapacity] = L"";
        if (!GetInstalledFolder(folder, kGameVendor, kGameTitle) || !IsAbsoluteFolder(folder)) {
            fprintf(stderr, "mkupdate: the game is not registered (HKLM\\Software\\%s\\%s, InstalledFolder): name "
                            "its folder with --game\n", ToUtf8(kGameVendor).c_str(), ToUtf8(kGameTitle).c_str());
            return 2;
        }
        o.game = folder;
#else
        fprintf(stderr, "mkupdate: without --game, plan reads the game's folder from the Windows registry, which "
                        "this system has not: name the folder with --game\n");
        return 2;
#endif
    }
    UpdatePlan plan;
    std::string error;
    const int code = PlanUpdate(o.updater, o.game, plan, error);
    if (code == 2)
        return Usage(kPlanUsage, error);
    if (code != 0)
        return Refused(o, error);
    const VersionListPlan& v = plan.versionList;
    const bool listUpdated = v.outcome == VersionListOutcome::Updated;
    if (o.json) {
        std::vector<std::string> targets;
        for (const PlannedTarget& t : plan.targets) {
            const std::string old =
                t.installed ? JsonObject().Number("size", t.oldSize).Value("checksum", JsonHex64(t.oldChecksum)).Str()
                            : "null";
            targets.push_back(JsonObject()
                                  .Text("entry", t.entry)
                                  .Text("target", t.target)
                                  .Text("action", t.action)
                                  .Value("old", old)
                                  .Value("new", JsonObject().Number("size", t.newSize).Value("checksum", JsonHex64(t.newChecksum)).Str())
                                  .Value("base", t.base.empty() ? "null" : JsonString(t.base))
                                  .Str());
        }
        std::vector<std::string> lines;
        for (const std::string& line : Lines(plan.uninstallList))
            lines.push_back(JsonString(line));
        const std::vector<unsigned char> uninstallBytes(plan.uninstallList.begin(), plan.uninstallList.end());
        const std::string versionList = JsonObject()
                                            .Text("state", OutcomeName(v.outcome))
                                            .Value("records", listUpdated ? JsonRecords(v.records) : "null")
                                            .Value("bytes", listUpdated ? JsonHexBytes(v.bytes) : "null")
                                            .Str();
        const bool u = plan.uninstallListUpdated;
        const std::string uninstallList = JsonObject()
                                              .Text("state", plan.uninstallListUnchanged ? "unchanged"
                                                             : u                         ? "updated"
                                                                                         : "cannot be read")
                                              .Value("lines", u ? JsonArray(lines) : "null")
                                              .Value("bytes", u ? JsonHexBytes(uninstallBytes) : "null")
                                              .Str();
        std::vector<std::string> leftovers;
        for (const PlannedLeftover& l : plan.leftovers)
            leftovers.push_back(JsonObject().Text("name", l.name).Text("fate", l.fate).Str());
        printf("%s\n", JsonVerdict(o.updater, "")
                           .Text("game", ToUtf8(o.game.c_str()))
                           .Number("result", plan.result)
                           .Value("asked", plan.asked ? "true" : "false")
                           .Value("leftovers", JsonArray(leftovers))
                           .Value("targets", JsonArray(targets))
                           .Value("version_list", versionList)
                           .Value("uninstall_list", uninstallList)
                           .Str()
                           .c_str());
        return 0;
    }
    printf("plan: %s on %s\n", ToUtf8(o.updater.c_str()).c_str(), ToUtf8(o.game.c_str()).c_str());
    for (const PlannedTarget& t : plan.targets) {
        printf("  %-9s %s new %9llu bytes %016llX", t.action, PadToWidth(t.target, 36).c_str(),
               static_cast<unsigned long long>(t.newSize), static_cast<unsigned long long>(t.newChecksum));
        if (t.installed)
            printf("  old %9llu bytes %016llX", static_cast<unsigned long long>(t.oldSize),
                   static_cast<unsigned long long>(t.oldChecksum));
        if (!t.base.empty())
            printf("  from %s", t.base.c_str());
        printf("\n");
    }
    for (const PlannedLeftover& l : plan.leftovers)
        printf("  leftover  %s: %s\n", PadToWidth(l.name, 36).c_str(), l.fate);
    if (!plan.asked)
        printf("told before the question: the update does not apply\n");
    printf("version list kpx.hvl: %s\n", OutcomeName(v.outcome));
    if (listUpdated)
        PrintRecords(v.records);
    printf("uninstall list uninst.lst: %s\n", plan.uninstallListUnchanged ? "unchanged"
                                               : plan.uninstallListUpdated  ? "updated"
                                                                            : "cannot be read");
    for (const std::string& line : Lines(plan.uninstallList))
        printf("  line %s\n", line.c_str());
    printf("result: 0x%08X (%s)\n", plan.result,
           plan.result == 0                      ? "installation complete"
           : plan.result == kResultNotApplicable ? "the update does not apply to the installed version, nothing changes"
           : plan.result == kResultInstallFailed ? "an installed file cannot be read, nothing changes"
                                                 : "installed, but the lists not all updated");
    return 0;
}

int DeltaCommand(const DeltaOptions& options)
{
    const bool apply = options.apply;
    const std::vector<std::wstring>& files = options.files;
    const std::wstring& output = options.output;
    std::string error;
    const int code = apply ? ApplyDeltaFile(files[0], files[1], output, error)
                           : MakeDeltaFile(files[0], files[1], output, error);
    if (code == 0) {
        uint64_t size = 0;
        FileSizeOf(output, size);
        printf("mkupdate: wrote %s (%llu bytes)\n", ToUtf8(output.c_str()).c_str(), static_cast<unsigned long long>(size));
        return 0;
    }
    fprintf(stderr, "mkupdate: %s\n", error.c_str());
    return code;
}

int Main(int argc, wchar_t** argv)
{
    if (argc < 2 || IsHelp(argv[1])) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!wcscmp(argv[1], L"--version") || !wcscmp(argv[1], L"version")) {
        printf("mkupdate %s\n", MKUPDATE_VERSION);
        return 0;
    }
    const std::wstring command = argv[1];
    if (command == L"build") {
        BuildOptions options;
        const ParseOutcome parsed = ParseBuildOptions(argc - 2, argv + 2, options);
        return parsed.end == ParseEnd::Ready ? Build(options) : Stopped(parsed, kBuildUsage);
    }
    if (command == L"delta" || command == L"apply") {
        DeltaOptions options;
        const ParseOutcome parsed = ParseDeltaOptions(command == L"apply", argc - 2, argv + 2, options);
        return parsed.end == ParseEnd::Ready ? DeltaCommand(options) : Stopped(parsed, options.apply ? kApplyUsage : kDeltaUsage);
    }
    // The commands that read an updater share one prologue: their options, help and usage errors.
    struct ReadCommand {
        const wchar_t* name;
        const char* usage;
        bool takesGame, takesBases;
        int (*run)(ReadOptions& options);
    };
    const ReadCommand commands[] = {{L"list", kListUsage, false, false, [](ReadOptions& o) { return List(o); }},
                                    {L"verify", kVerifyUsage, false, true, [](ReadOptions& o) { return Verify(o); }},
                                    {L"plan", kPlanUsage, true, false, Plan}};
    for (const ReadCommand& c : commands) {
        if (command != c.name)
            continue;
        ReadOptions options;
        const ParseOutcome parsed = ParseReadOptions(c.takesGame, c.takesBases, argc - 2, argv + 2, options);
        return parsed.end == ParseEnd::Ready ? c.run(options) : Stopped(parsed, c.usage);
    }
    return Usage(kUsage, "unknown command " + ToUtf8(argv[1]));
}

}  // namespace

#if defined(_WIN32)
int wmain(int argc, wchar_t** argv) { return Main(argc, argv); }
#else
// Arguments arrive as UTF-8 bytes; the program works on UTF-16 as on Windows.
int main(int argc, char** argv)
{
    std::vector<std::wstring> args(static_cast<size_t>(argc));
    std::vector<wchar_t*> pointers;
    for (int i = 0; i < argc; ++i) {
        BytesToUtf16(CodePage::Utf8, argv[i], false, args[static_cast<size_t>(i)]);
        pointers.push_back(&args[static_cast<size_t>(i)][0]);
    }
    pointers.push_back(nullptr);
    return Main(argc, pointers.data());
}
#endif
