// mkupdate plan: what an updater would do to an installation, as a dry run, and its report as text and as
// JSON.
#pragma once
#include <string>

#include "tools/command_options.h"
#include "tools/update_plan.h"

// How plan ended.
enum class PlanEnd {
    Planned,
    Refused,        // the package is damaged: `problem` names its first problem, as verify does
    BadInput,       // no such updater, or a folder that is not an installation: `problem`
    NotRegistered,  // no --game, and no registered folder to read: `problem`
};

struct PlanResult {
    std::wstring updater;
    std::wstring game;  // the installation read: --game's folder, or the one the game is registered under
    PlanEnd end = PlanEnd::Planned;
    std::string problem;
    UpdatePlan plan;  // when planned
};

// The dry run of the updater `options` name on its installation; reads, writes nothing, prints nothing.
PlanResult PlanCommand(const ReadOptions& options);

// Each target, each leftover, both lists and the result, on stdout; nothing unless planned.
void PrintPlanText(const PlanResult& result);
// One JSON document, without a line end: the verdict alone for a refused package (the input problems end with
// no document).
std::string PlanJson(const PlanResult& result);
