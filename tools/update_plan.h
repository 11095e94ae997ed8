// A dry run of an updater against an installation folder: what it would do there, computed with the
// updater's own checks and list functions, without writing anything.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "update/package/list_updates.h"

struct PlannedTarget {
    std::string entry;   // the payload entry's name, UTF-8
    std::string target;  // below the installation folder, UTF-8
    const char* action;  // "add", "replace", "identical" (installed bytes already have the record's
                         // checksum) or "unchecked" (no version record: installed unverified); for a target
                         // with deltas "patch", "full", "identical" or "does not apply"
    std::string base;    // with "patch": the installed file patched (the target, or the original an
                         // interrupted run kept aside), below the installation folder
    bool installed = false;  // a file stands at the target now
    uint64_t oldSize = 0, oldChecksum = 0;
    uint64_t newSize = 0;
    uint64_t newChecksum = 0;
};

// What the updater does with a file an interrupted run left beside a target or a recorded file.
struct PlannedLeftover {
    std::string name;  // below the installation folder, UTF-8: "<name>.kept" or "<name>.tmp"
    const char* fate;  // "removed" (a temporary file or a stale kept file), "put back" (an original goes back
                       // under its name) or "kept aside" (an original kept as the run's own until the lists
                       // are saved, then deleted) or "left aside" (an original a refused run cannot record
                       // in a version list it cannot save: it stays for the next run to judge)
};

struct UpdatePlan {
    std::wstring game;  // the installation folder
    std::vector<PlannedTarget> targets;
    VersionListPlan versionList;
    bool uninstallListUpdated = false;  // false: missing or unreadable, the run would end with 0x80000005
    bool uninstallListUnchanged = false;  // a run that does not apply leaves it as it is
    std::string uninstallList;           // its new bytes
    uint32_t result = 0;                 // the result code the updater would end with, writes succeeding
    bool asked = true;                   // false: the player is told the update does not apply instead of asked
    bool temporaryPathTooLong = false;   // with 0x80000004: a target's "<target>.tmp" does not fit the path
                                         // buffer, rather than an installed file that cannot be read
    std::vector<PlannedLeftover> leftovers;  // settled by a run that ends with 0, 0x80000005 or 0x80000008
};

// 0 with the plan; 1 when the package is damaged (`error` names the same first problem as verify); 2 when
// the input is not what it should be (no such file, a folder that is not an installation).
int PlanUpdate(const std::wstring& updater, const std::wstring& game, UpdatePlan& plan, std::string& error);
