// mkupdate: makes the self-contained updater from the bare program and the files to ship, lists what an
// updater carries, and verifies it the way the updater will. The same program on Windows and, natively,
// on the studio's Linux build servers: same options, output, JSON and exit codes.
// This is its entry: a command's arguments read into its options, its result computed, the result printed
// as text or JSON, and the exit code. Problems go to stderr, one line each.
#include <cstdio>
#include <cwchar>
#include <string>

#include "tools/build_command.h"
#include "tools/command_options.h"
#include "tools/delta_command.h"
#include "tools/list_command.h"
#include "tools/mkupdate.h"
#include "tools/plan_command.h"
#include "tools/usage_texts.h"
#include "tools/verify_command.h"
#include "util/text/encoding.h"

namespace {

int Fail(const std::string& problem, int code = 1)
{
    fprintf(stderr, "mkupdate: %s\n", problem.c_str());
    return code;
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
        return Fail(parsed.problem, 2);
    }
}

int Build(const BuildOptions& options)
{
    const BuildResult result = BuildCommand(options);
    PrintBuildText(result);
    return result.written ? 0 : Fail(result.problem);
}

int Delta(const DeltaOptions& options)
{
    const DeltaFileResult result = DeltaCommand(options);
    PrintDeltaText(result);
    return result.code == 0 ? 0 : Fail(result.problem, result.code);
}

// A refused package is named on stderr after its document, --json or not.
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
    // The document that names the delta is the whole answer; text names it on stderr.
    if (!result.wrongDelta.empty())
        return o.json ? 1 : Fail(result.wrongDelta);
    return 0;
}

int Plan(const ReadOptions& o)
{
    const PlanResult result = PlanCommand(o);
    if (result.end == PlanEnd::NotRegistered)
        return Fail(result.problem, 2);
    if (result.end == PlanEnd::BadInput)
        return Usage(kPlanUsage, result.problem);
    if (o.json)
        printf("%s\n", PlanJson(result).c_str());
    else
        PrintPlanText(result);
    return result.end == PlanEnd::Refused ? Fail(result.problem) : 0;
}

// The commands that read an updater share their options, help and usage problems.
int ReadCommand(const std::wstring& command, int argc, wchar_t** argv)
{
    struct Command {
        const wchar_t* name;
        const char* usage;
        bool takesGame, takesBases;
        int (*run)(const ReadOptions& options);
    };
    const Command commands[] = {{L"list", kListUsage, false, false, List},
                                {L"verify", kVerifyUsage, false, true, Verify},
                                {L"plan", kPlanUsage, true, false, Plan}};
    for (const Command& c : commands) {
        if (command != c.name)
            continue;
        ReadOptions options;
        const ParseOutcome parsed = ParseReadOptions(c.takesGame, c.takesBases, argc, argv, options);
        return parsed.end == ParseEnd::Ready ? c.run(options) : Stopped(parsed, c.usage);
    }
    return Usage(kUsage, "unknown command " + ToUtf8(command));
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
        return parsed.end == ParseEnd::Ready ? Delta(options)
                                             : Stopped(parsed, options.apply ? kApplyUsage : kDeltaUsage);
    }
    return ReadCommand(command, argc - 2, argv + 2);
}

}  // namespace

int RunMkupdate(int argc, wchar_t** argv) { return Main(argc, argv); }
