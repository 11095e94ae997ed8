// Reading mkupdate's command lines: each command's options, in argument order, into its record.
#include "tools/command_options.h"

#include <cwchar>

#include "util/fs/file.h"
#include "util/fs/paths.h"
#include "util/text/encoding.h"

namespace {

ParseOutcome Stop(ParseEnd end, const std::string& problem = std::string()) { return {end, problem}; }

// The first line of a UTF-8 text file, without a byte order mark; false when it cannot be opened.
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

// One of build's options that take a value.
ParseOutcome TakeBuildValue(const std::wstring& arg, const std::wstring& value, BuildOptions& options, bool& haveTitle)
{
    if (arg == L"--image") {
        options.image = value;
    } else if (arg == L"--output" || arg == L"-o") {
        options.output = value;
    } else if (arg == L"--title") {
        options.title = ToUtf8(value);
        haveTitle = true;
    } else if (arg == L"--title-file") {
        if (!ReadTitleFile(value, options.title))
            return Stop(ParseEnd::Unreadable, "cannot read the title file \"" + ToUtf8(value) + "\"");
        haveTitle = true;
    } else if (arg == L"--files") {
        std::string error;
        if (!CollectFolder(value, options.files, error))
            return Stop(ParseEnd::Unreadable, error);
    } else if (arg == L"--base") {
        options.bases.push_back(value);
    } else if (arg == L"--level") {
        wchar_t* end = nullptr;
        const long level = wcstol(value.c_str(), &end, 10);
        if (value.empty() || *end != 0 || level < 1 || level > kMaxCompressionLevel)
            return Stop(ParseEnd::BadUsage, "--level takes a number from 1 to " + std::to_string(kMaxCompressionLevel));
        options.level = static_cast<int>(level);
        options.levelGiven = true;
    } else if (arg == L"--file") {
        const size_t eq = value.find(L'=');
        if (eq == std::wstring::npos || eq == 0 || eq + 1 == value.size())
            return Stop(ParseEnd::BadUsage, "--file takes SOURCE=TARGET");
        options.files.push_back({value.substr(0, eq), value.substr(eq + 1)});
    } else {
        return Stop(ParseEnd::BadUsage, "unknown option " + ToUtf8(arg));
    }
    return Stop(ParseEnd::Ready);
}

}  // namespace

bool IsHelp(const wchar_t* arg) { return !wcscmp(arg, L"--help") || !wcscmp(arg, L"-h") || !wcscmp(arg, L"help"); }

ParseOutcome ParseBuildOptions(int argc, wchar_t** argv, BuildOptions& options)
{
    options.progress = true;
    bool haveTitle = false;
    for (int i = 0; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (IsHelp(argv[i]))
            return Stop(ParseEnd::Help);
        if (arg == L"--quiet") {
            options.progress = false;
            continue;
        }
        if (arg == L"--keep-full") {
            options.keepFull = true;
            continue;
        }
        if (arg == L"--compress") {
            options.compress = true;
            continue;
        }
        // Any other argument is an option with a value, an unknown one too.
        if (i + 1 >= argc)
            return Stop(ParseEnd::BadUsage, "missing value after " + ToUtf8(arg));
        const ParseOutcome taken = TakeBuildValue(arg, argv[++i], options, haveTitle);
        if (taken.end != ParseEnd::Ready)
            return taken;
    }
    if (options.image.empty() || options.output.empty() || !haveTitle)
        return Stop(ParseEnd::BadUsage, "build needs --image, a title and --output");
    if (options.levelGiven && !options.compress)
        return Stop(ParseEnd::BadUsage, "--level is the compression level: it needs --compress");
    return Stop(ParseEnd::Ready);
}

ParseOutcome ParseReadOptions(bool takesGame, bool takesBases, int argc, wchar_t** argv, ReadOptions& options)
{
    for (int i = 0; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (IsHelp(argv[i]))
            return Stop(ParseEnd::Help);
        if (arg == L"--json") {
            options.json = true;
        } else if (takesGame && arg == L"--game") {
            if (i + 1 >= argc)
                return Stop(ParseEnd::BadUsage, "missing folder after --game");
            options.game = argv[++i];
        } else if (takesBases && arg == L"--base") {
            if (i + 1 >= argc)
                return Stop(ParseEnd::BadUsage, "missing folder after --base");
            options.bases.push_back(argv[++i]);
        } else if (arg.compare(0, 2, L"--") == 0 || !options.updater.empty()) {
            return Stop(ParseEnd::BadUsage, "unexpected argument " + ToUtf8(arg));
        } else {
            options.updater = arg;
        }
    }
    if (options.updater.empty())
        return Stop(ParseEnd::BadUsage, "expected one updater file");
    if (KindOf(options.updater) == PathKind::None)
        return Stop(ParseEnd::NoSuchFile, "no such file: \"" + ToUtf8(options.updater) + "\"");
    return Stop(ParseEnd::Ready);
}

ParseOutcome ParseDeltaOptions(bool apply, int argc, wchar_t** argv, DeltaOptions& options)
{
    options.apply = apply;
    for (int i = 0; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (IsHelp(argv[i]))
            return Stop(ParseEnd::Help);
        if (arg == L"--output" || arg == L"-o") {
            if (i + 1 >= argc)
                return Stop(ParseEnd::BadUsage, "missing value after " + ToUtf8(arg));
            options.output = argv[++i];
        } else if (arg.compare(0, 2, L"--") == 0) {
            return Stop(ParseEnd::BadUsage, "unknown option " + ToUtf8(arg));
        } else {
            options.files.push_back(arg);
        }
    }
    if (options.files.size() != 2 || options.output.empty())
        return Stop(ParseEnd::BadUsage, std::string(apply ? "apply" : "delta") + " needs two files and --output");
    return Stop(ParseEnd::Ready);
}
