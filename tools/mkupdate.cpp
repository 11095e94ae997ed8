// mkupdate: makes the self-contained updater from the bare program and the files to ship, lists what an
// updater carries, and verifies it the way the updater will. The same program on Windows and, natively,
// on the studio's Linux build servers: same options, output, JSON and exit codes.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "install/installed_folder.h"
#include "tools/columns.h"
#include "tools/json.h"
#include "tools/package_builder.h"
#include "tools/package_reader.h"
#include "tools/update_plan.h"
#include "util/code_page.h"
#include "util/encoding.h"
#include "util/file.h"
#include "util/paths.h"
#include "util/strings.h"

namespace {

const char kUsage[] =
    "usage: mkupdate <command> [options]\n"
    "\n"
    "commands:\n"
    "  build    make an updater from the bare program and the files to ship\n"
    "  list     print the title, the payload's entries and the version records of an updater\n"
    "  verify   check an updater the way it will check itself, and every checksum\n"
    "  plan     show what an updater would do to an installation, writing nothing\n"
    "\n"
    "Run 'mkupdate <command> --help' for the options of a command, 'mkupdate --version' for the version.\n";

const char kBuildUsage[] =
    "usage: mkupdate build --image PROGRAM (--title TEXT | --title-file FILE)\n"
    "                      (--files FOLDER | --file SOURCE=TARGET)... --output UPDATER [--quiet]\n"
    "\n"
    "  --image PROGRAM       the linked updater program (it must end by offset 0xA0000)\n"
    "  --title TEXT          the caption of every window and box, UTF-8; stored as Shift-JIS\n"
    "  --title-file FILE     the same, read from a UTF-8 text file (one line)\n"
    "  --files FOLDER        ship every file below FOLDER, installed under its path relative to\n"
    "                        FOLDER: FOLDER\\Archive\\data01200.arc installs as Archive\\data01200.arc\n"
    "  --file SOURCE=TARGET  ship SOURCE, installed as TARGET below the installation folder\n"
    "  --output UPDATER      the file to write (written whole or not at all)\n"
    "  --quiet               no progress on stderr\n";

const char kListUsage[] =
    "usage: mkupdate list UPDATER [--json]\n\n"
    "Prints the title, whether a signing certificate is present, the payload's entries (name, stored\n"
    "offset, size) and the version records (path, checksum). --json prints one JSON document instead.\n";
const char kVerifyUsage[] =
    "usage: mkupdate verify UPDATER [--json]\n\n"
    "Exits 0 when the updater would install; otherwise names the first problem and exits 1.\n";
const char kPlanUsage[] =
    "usage: mkupdate plan UPDATER [--game FOLDER] [--json]\n\n"
    "Reads the installation in FOLDER (without --game: the folder the game is registered under, as the\n"
    "updater finds it) and prints what the updater would do there, writing nothing: each target added,\n"
    "replaced, already identical or installed unchecked, with its old and new size and checksum, and the\n"
    "version list and uninstall list as the updater would leave them. Exits 0 when the update would\n"
    "apply, 1 when the package is damaged, 2 for bad input.\n";

// One line a version record, the checksums in one column whatever the names' scripts.
void PrintRecords(const std::vector<VersionRecord>& records)
{
    for (const VersionRecord& r : records)
        printf("  record %s checksum %016llX\n", PadToWidth(r.name, 40).c_str(), static_cast<unsigned long long>(r.value));
}

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

bool IsHelp(const wchar_t* arg) { return !wcscmp(arg, L"--help") || !wcscmp(arg, L"-h") || !wcscmp(arg, L"help"); }

bool ReadTitleFile(const std::wstring& path, std::string& title)
{
    CFileDX file;
    char buffer[8192];
    if (!file.Open(path.c_str()))
        return false;
    const uint32_t n = file.Read(buffer, sizeof buffer);
    title.assign(buffer, n);
    if (title.compare(0, 3, "\xEF\xBB\xBF") == 0)
        title.erase(0, 3);
    while (!title.empty() && (title.back() == '\n' || title.back() == '\r'))
        title.pop_back();
    return true;
}

int Build(int argc, wchar_t** argv)
{
    BuildOptions options;
    options.progress = true;
    bool haveTitle = false;
    for (int i = 0; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (IsHelp(argv[i])) {
            fputs(kBuildUsage, stdout);
            return 0;
        }
        if (arg == L"--quiet") {
            options.progress = false;
            continue;
        }
        if (i + 1 >= argc)
            return Usage(kBuildUsage, "missing value after " + ToUtf8(argv[i]));
        std::wstring value = argv[++i];
        if (arg == L"--image") {
            options.image = value;
        } else if (arg == L"--output" || arg == L"-o") {
            options.output = value;
        } else if (arg == L"--title") {
            options.title = ToUtf8(value.c_str());
            haveTitle = true;
        } else if (arg == L"--title-file") {
            if (!ReadTitleFile(value, options.title))
                return Fail("cannot read the title file \"" + ToUtf8(value.c_str()) + "\"");
            haveTitle = true;
        } else if (arg == L"--files") {
            std::string error;
            if (!CollectFolder(value, options.files, error))
                return Fail(error);
        } else if (arg == L"--file") {
            size_t eq = value.find(L'=');
            if (eq == std::wstring::npos || eq == 0 || eq + 1 == value.size())
                return Usage(kBuildUsage, "--file takes SOURCE=TARGET");
            options.files.push_back({value.substr(0, eq), value.substr(eq + 1)});
        } else {
            return Usage(kBuildUsage, "unknown option " + ToUtf8(arg.c_str()));
        }
    }
    if (options.image.empty() || options.output.empty() || !haveTitle)
        return Usage(kBuildUsage, "build needs --image, a title and --output");
    std::string error;
    if (!BuildUpdater(options, error))
        return Fail(error);
    printf("mkupdate: wrote %s (%zu files)\n", ToUtf8(options.output.c_str()).c_str(), options.files.size());
    return 0;
}

// The arguments of list, verify and plan: the updater, --json, and for plan --game FOLDER.
struct ReadOptions {
    std::wstring updater, game;
    bool json = false;
};

// 0 when the arguments are usable; otherwise the exit code after printing usage (or help).
int ParseReadOptions(const char* usage, bool takesGame, int argc, wchar_t** argv, ReadOptions& options)
{
    for (int i = 0; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (IsHelp(argv[i])) {
            fputs(usage, stdout);
            return -1;
        }
        if (arg == L"--json") {
            options.json = true;
        } else if (takesGame && arg == L"--game") {
            if (i + 1 >= argc)
                return Usage(usage, "missing folder after --game");
            options.game = argv[++i];
        } else if (arg.compare(0, 2, L"--") == 0 || !options.updater.empty()) {
            return Usage(usage, "unexpected argument " + ToUtf8(argv[i]));
        } else {
            options.updater = arg;
        }
    }
    if (options.updater.empty())
        return Usage(usage, "expected one updater file");
    if (KindOf(options.updater) == PathKind::None) {
        fprintf(stderr, "mkupdate: no such file: \"%s\"\n", ToUtf8(options.updater.c_str()).c_str());
        return 2;
    }
    return 0;
}

std::string JsonVerdict(const ReadOptions& o, const std::string& problem)
{
    return "\"file\": " + JsonString(ToUtf8(o.updater.c_str())) + ", \"verdict\": " +
           (problem.empty() ? "\"accepted\", \"problem\": null" : "\"refused\", \"problem\": " + JsonString(problem));
}

std::string JsonRecords(const std::vector<VersionRecord>& records)
{
    std::vector<std::string> out;
    for (const VersionRecord& r : records)
        out.push_back("{\"name\": " + JsonString(r.name) + ", \"checksum\": " + JsonHex64(r.value) + "}");
    return JsonArray(out);
}

int Refused(const ReadOptions& o, const std::string& problem)
{
    if (o.json)
        printf("{%s}\n", JsonVerdict(o, problem).c_str());
    return Fail(problem);
}

int List(int argc, wchar_t** argv)
{
    ReadOptions o;
    if (int code = ParseReadOptions(kListUsage, false, argc, argv, o))
        return code < 0 ? 0 : code;
    UpdaterContents c;
    std::string error;
    if (!ReadUpdaterFile(o.updater, c, error))
        return Refused(o, error);
    if (o.json) {
        std::vector<std::string> entries;
        for (size_t i = 0; i < c.entries.size(); ++i)
            entries.push_back("{\"name\": " + JsonString(c.entries[i].name) + ", \"offset\": " +
                              std::to_string(c.storedOffsets[i]) + ", \"size\": " + std::to_string(c.entries[i].size) + "}");
        std::string list = "null";
        if (c.hasVersionList)
            list = "{\"magic\": " + JsonString(std::string(c.versionHeader.magic, 8)) + ", \"records\": " +
                   JsonRecords(c.records) + "}";
        printf("{%s, \"size\": %llu, \"title\": %s, \"certificate\": %s, \"archive_magic\": %s, \"entries\": %s, "
               "\"version_list\": %s}\n",
               JsonVerdict(o, "").c_str(), static_cast<unsigned long long>(c.fileSize), JsonString(c.title).c_str(),
               c.hasCertificate ? "true" : "false", JsonString(std::string(c.header.magic, 12)).c_str(),
               JsonArray(entries).c_str(), list.c_str());
        return 0;
    }
    printf("title: %s\n", c.title.c_str());
    printf("certificate: %s\n", c.hasCertificate ? "present (not validated here)" : "none");
    printf("entries: %u\n", c.header.count);
    for (size_t i = 0; i < c.entries.size(); ++i)
        printf("  entry %s offset 0x%08X  size 0x%08X (%u bytes)\n", PadToWidth(c.entries[i].name, 40).c_str(),
               c.storedOffsets[i], c.entries[i].size, c.entries[i].size);
    if (!c.hasVersionList) {
        printf("version list: none\n");
        return 0;
    }
    printf("version records: %u\n", c.versionHeader.count);
    PrintRecords(c.records);
    return 0;
}

int Verify(int argc, wchar_t** argv)
{
    ReadOptions o;
    if (int code = ParseReadOptions(kVerifyUsage, false, argc, argv, o))
        return code < 0 ? 0 : code;
    UpdaterContents c;
    std::string error;
    if (!ReadUpdaterFile(o.updater, c, error) || !VerifyUpdaterFile(o.updater, error))
        return Refused(o, error);
    if (o.json) {
        printf("{%s, \"entries\": %zu, \"records\": %zu, \"version_list\": %s}\n", JsonVerdict(o, "").c_str(),
               c.entries.size(), c.records.size(), c.hasVersionList ? "true" : "false");
    } else if (!c.hasVersionList) {
        printf("mkupdate: %s would install: %zu entries, no version list: every entry installs unchecked "
               "under its own name\n", ToUtf8(o.updater.c_str()).c_str(), c.entries.size());
    } else {
        printf("mkupdate: %s would install: %zu entries, %zu version records, every checksum matches\n",
               ToUtf8(o.updater.c_str()).c_str(), c.entries.size(), c.records.size());
    }
    return 0;
}

const char* OutcomeName(VersionListOutcome outcome)
{
    switch (outcome) {
    case VersionListOutcome::Absent: return "absent";
    case VersionListOutcome::NotAVersionList: return "not a version list";
    case VersionListOutcome::Locked: return "cannot be read";
    case VersionListOutcome::Unencodable: return "a name does not fit";
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

int Plan(int argc, wchar_t** argv)
{
    ReadOptions o;
    if (int code = ParseReadOptions(kPlanUsage, true, argc, argv, o))
        return code < 0 ? 0 : code;
    if (o.game.empty()) {
#if defined(_WIN32)
        wchar_t folder[kFolderCapacity] = L"";
        if (!GetInstalledFolder(folder, kGameVendor, kGameTitle) || !IsAbsoluteFolder(folder)) {
            fprintf(stderr, "mkupdate: the game is not registered (HKLM\\Software\\Kovo\\%s, InstalledFolder): name "
                            "its folder with --game\n", ToUtf8(kGameTitle).c_str());
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
        for (const PlannedTarget& t : plan.targets)
            targets.push_back("{\"entry\": " + JsonString(t.entry) + ", \"target\": " + JsonString(t.target) +
                              ", \"action\": " + JsonString(t.action) + ", \"old\": " +
                              (t.installed ? "{\"size\": " + std::to_string(t.oldSize) + ", \"checksum\": " +
                                                 JsonHex64(t.oldChecksum) + "}"
                                           : std::string("null")) +
                              ", \"new\": {\"size\": " + std::to_string(t.newSize) + ", \"checksum\": " +
                              JsonHex64(t.newChecksum) + "}}");
        std::vector<std::string> lines;
        for (const std::string& line : Lines(plan.uninstallList))
            lines.push_back(JsonString(line));
        const std::vector<unsigned char> uninstallBytes(plan.uninstallList.begin(), plan.uninstallList.end());
        printf("{%s, \"game\": %s, \"result\": %u, \"targets\": %s, \"version_list\": {\"state\": %s, \"records\": %s, "
               "\"bytes\": %s}, \"uninstall_list\": {\"state\": %s, \"lines\": %s, \"bytes\": %s}}\n",
               JsonVerdict(o, "").c_str(), JsonString(ToUtf8(o.game.c_str())).c_str(), plan.result,
               JsonArray(targets).c_str(), JsonString(OutcomeName(v.outcome)).c_str(),
               listUpdated ? JsonRecords(v.records).c_str() : "null",
               listUpdated ? JsonHexBytes(v.bytes).c_str() : "null",
               JsonString(plan.uninstallListUpdated ? "updated" : "cannot be read").c_str(),
               plan.uninstallListUpdated ? JsonArray(lines).c_str() : "null",
               plan.uninstallListUpdated ? JsonHexBytes(uninstallBytes).c_str() : "null");
        return 0;
    }
    printf("plan: %s on %s\n", ToUtf8(o.updater.c_str()).c_str(), ToUtf8(o.game.c_str()).c_str());
    for (const PlannedTarget& t : plan.targets) {
        printf("  %-9s %s new %9u bytes %016llX", t.action, PadToWidth(t.target, 36).c_str(), t.newSize,
               static_cast<unsigned long long>(t.newChecksum));
        if (t.installed)
            printf("  old %9llu bytes %016llX", static_cast<unsigned long long>(t.oldSize),
                   static_cast<unsigned long long>(t.oldChecksum));
        printf("\n");
    }
    printf("version list kpx.hvl: %s\n", OutcomeName(v.outcome));
    if (listUpdated)
        PrintRecords(v.records);
    printf("uninstall list uninst.lst: %s\n", plan.uninstallListUpdated ? "updated" : "cannot be read");
    for (const std::string& line : Lines(plan.uninstallList))
        printf("  line %s\n", line.c_str());
    printf("result: 0x%08X (%s)\n", plan.result, plan.result == 0 ? "installation complete"
                                                                     : "installed, but the lists not all updated");
    return 0;
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
    std::wstring command = argv[1];
    if (command == L"build")
        return Build(argc - 2, argv + 2);
    if (command == L"list")
        return List(argc - 2, argv + 2);
    if (command == L"verify")
        return Verify(argc - 2, argv + 2);
    if (command == L"plan")
        return Plan(argc - 2, argv + 2);
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
