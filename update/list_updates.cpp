// Planning the installed version list's update: merge the payload's records, then prune, in memory.
#include "update/list_updates.h"

#include <windows.h>

#include "archive/entry_lists.h"
#include "util/file.h"
#include "util/strings.h"

bool PlanVersionList(const wchar_t* folder, const std::wstring& root, const std::vector<VersionRecord>& payload,
                     const std::vector<std::wstring>* toBeInstalled, VersionListPlan& plan)
{
    wchar_t path[kPathCapacity];
    if (FormatWide(path, kPathCapacity, L"%s\\kpx.hvl", folder) < 0)
        return false;
    plan = VersionListPlan{};
    {
        CFileDX file;
        if (!file.Open(path)) {
            plan.outcome = GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES ? VersionListOutcome::Absent
                                                                                : VersionListOutcome::Locked;
            return true;
        }
        // A list that leads out of the folder is neither read nor replaced.
        if (!file.IsInside(root)) {
            plan.outcome = VersionListOutcome::Locked;
            return true;
        }
        if (!ReadVersionList(plan.header, plan.records, file)) {
            plan.outcome = VersionListOutcome::NotAVersionList;
            return true;
        }
    }
    MergeVersionRecords(plan.header, plan.records, payload);
    PruneMissingRecords(plan.header, plan.records, folder, toBeInstalled);
    plan.outcome = EncodeVersionList(plan.header, plan.records, plan.bytes) ? VersionListOutcome::Updated
                                                                            : VersionListOutcome::Unencodable;
    return true;
}
