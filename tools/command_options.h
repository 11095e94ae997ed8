// mkupdate's command lines read into plain records: what each command was asked, or why it stops before it
// runs. Nothing here prints: the entry prints the help or the problem and ends with the exit code.
#pragma once
#include <string>
#include <vector>

#include "tools/package_builder.h"

// How reading a command's arguments ended. Arguments are read in order and the first that stops the command
// decides: `build --frobnicate --help` is a usage problem, `build --help --frobnicate` asks for help.
enum class ParseEnd {
    Ready,       // the command runs
    Help,        // the command's usage on stdout; exit 0
    BadUsage,    // `problem`, then the command's usage, on stderr; exit 2
    Unreadable,  // an input an option names cannot be read (a title file, a folder): `problem`; exit 1
    NoSuchFile,  // the updater named does not exist: `problem`; exit 2
};

struct ParseOutcome {
    ParseEnd end = ParseEnd::Ready;
    std::string problem;  // one line, without "mkupdate: "
};

// "--help", "-h" or "help".
bool IsHelp(const wchar_t* arg);

// build: the package builder's options, progress on unless --quiet. A --title-file is read and a --files
// folder collected where the option stands, so that a later bad argument is not named before them.
ParseOutcome ParseBuildOptions(int argc, wchar_t** argv, BuildOptions& options);

// The arguments of list, verify and plan: the updater, --json, for verify --base FOLDER..., for plan
// --game FOLDER.
struct ReadOptions {
    std::wstring updater, game;
    std::vector<std::wstring> bases;
    bool json = false;
};
// Ready only when the updater named exists.
ParseOutcome ParseReadOptions(bool takesGame, bool takesBases, int argc, wchar_t** argv, ReadOptions& options);

// delta BASE NEW --output PATCH, and apply BASE PATCH --output NEW.
struct DeltaOptions {
    bool apply = false;
    std::vector<std::wstring> files;  // BASE and NEW, or BASE and PATCH
    std::wstring output;
};
ParseOutcome ParseDeltaOptions(bool apply, int argc, wchar_t** argv, DeltaOptions& options);
