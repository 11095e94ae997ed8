// mkupdate verify: an updater checked as the updater checks itself, its deltas applied to the bases given,
// and its report as text and as JSON.
#pragma once
#include <string>
#include <vector>

#include "tools/command_options.h"
#include "tools/package_reader.h"

struct VerifyResult {
    std::wstring updater;
    bool withBases = false;       // --base was given: the JSON document lists `applied`, else null
    std::string problem;          // the package's first problem, as the updater would refuse it; empty when sound
    std::string unreadableBase;   // a base file could not be read: the command's input is at fault, not the package
    std::string wrongDelta;       // the first delta that, applied to its base, did not give its target
    UpdaterContents contents;     // with no problem
    std::vector<AppliedDelta> applied;  // with --base: every delta, and the base it was applied to
};

// Checks the updater `options` name, then applies its deltas to the bases given; prints nothing.
VerifyResult VerifyCommand(const ReadOptions& options);

// What would install, on stdout; nothing for a refused package or a delta that did not give its target.
void PrintVerifyText(const VerifyResult& result);
// One JSON document, without a line end: the verdict alone for a refused package, the counts and the deltas
// applied otherwise (refused, naming the delta, when one did not give its target).
std::string VerifyJson(const VerifyResult& result);
