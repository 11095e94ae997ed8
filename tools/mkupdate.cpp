// mkupdate: makes the self-contained updater from the bare program and the files to ship, lists what an
// updater carries, and verifies it the way the updater will.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/package_builder.h"
#include "tools/package_reader.h"
#include "util/encoding.h"

namespace {

const char kUsage[] =
    "usage: mkupdate <command> [options]\n"
    "\n"
    "commands:\n"
    "  build    make an updater from the bare program and the files to ship\n"
    "  list     print the title, the payload's entries and the version records of an updater\n"
    "  verify   check an updater the way it will check itself, and every checksum\n"
    "\n"
    "Run 'mkupdate <command> --help' for the options of a command.\n";

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

const char kListUsage[] = "usage: mkupdate list UPDATER\n\nPrints the title, the payload's entries (name, stored offset, size)\nand the version records (path, checksum).\n";
const char kVerifyUsage[] = "usage: mkupdate verify UPDATER\n\nExits 0 when the updater would install; otherwise names the first problem and exits 1.\n";

std::string ToUtf8(const wchar_t* text)
{
    std::string out;
    WideToMultiByte(text, Utf8, out);
    return out;
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
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    char buffer[8192];
    DWORD n = 0;
    BOOL ok = ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(h);
    if (!ok)
        return false;
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

int ListOrVerify(bool verify, int argc, wchar_t** argv)
{
    const char* usage = verify ? kVerifyUsage : kListUsage;
    if (argc == 1 && IsHelp(argv[0])) {
        fputs(usage, stdout);
        return 0;
    }
    if (argc != 1)
        return Usage(usage, "expected exactly one updater file");
    UpdaterContents contents;
    std::string error;
    if (!ReadUpdaterFile(argv[0], contents, error))
        return Fail(error);
    if (verify) {
        if (!VerifyUpdaterFile(argv[0], error))
            return Fail(error);
        if (!contents.hasVersionList)
            printf("mkupdate: %s would install: %zu entries, no version list: every entry installs unchecked "
                   "under its own name\n", ToUtf8(argv[0]).c_str(), contents.entries.size());
        else
            printf("mkupdate: %s would install: %zu entries, %zu version records, every checksum matches\n",
                   ToUtf8(argv[0]).c_str(), contents.entries.size(), contents.records.size());
        return 0;
    }
    printf("title: %s\n", contents.title.c_str());
    printf("entries: %u\n", contents.header.count);
    for (size_t i = 0; i < contents.entries.size(); ++i)
        printf("  entry %-40s offset 0x%08X  size 0x%08X (%u bytes)\n", contents.entries[i].name.c_str(),
               contents.storedOffsets[i], contents.entries[i].size, contents.entries[i].size);
    if (!contents.hasVersionList) {
        printf("version list: none\n");
        return 0;
    }
    printf("version records: %u\n", contents.versionHeader.count);
    for (const VersionRecord& r : contents.records)
        printf("  record %-40s checksum %016llX\n", r.name.c_str(), static_cast<unsigned long long>(r.value));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || IsHelp(argv[1])) {
        fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::wstring command = argv[1];
    if (command == L"build")
        return Build(argc - 2, argv + 2);
    if (command == L"list")
        return ListOrVerify(false, argc - 2, argv + 2);
    if (command == L"verify")
        return ListOrVerify(true, argc - 2, argv + 2);
    return Usage(kUsage, "unknown command " + ToUtf8(argv[1]));
}
