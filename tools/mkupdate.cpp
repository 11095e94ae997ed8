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
#include "tools/plan_command.h"
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

int Plan(const ReadOptions& o)
{
    const PlanResult result = PlanCommand(o);
    if (result.end == PlanEnd::NotRegistered) {
        fprintf(stderr, "mkupdate: %s\n", result.problem.c_str());
        return 2;
    }
    if (result.end == PlanEnd::BadInput)
        return Usage(kPlanUsage, result.problem);
    if (o.json)
        printf("%s\n", PlanJson(result).c_str());
    else
        PrintPlanText(result);
    return result.end == PlanEnd::Refused ? Fail(result.problem) : 0;
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
        int (*run)(const ReadOptions& options);
    };
    const ReadCommand commands[] = {{L"list", kListUsage, false, false, List},
                                    {L"verify", kVerifyUsage, false, true, Verify},
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
