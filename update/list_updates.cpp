// Planning the installed version list's update: merge the payload's records, then prune, in memory.
#include "update/list_updates.h"

#include <windows.h>

#include "archive/entry_lists.h"
#include "util/file.h"

bool ReadInstalledVersionList(HANDLE held, const std::wstring& root, VersionListPlan& plan)
{
    plan = VersionListPlan{};
    CFileDX file;
    if (!file.OpenIn(held, kVersionListName)) {
        const DWORD error = GetLastError();
        plan.outcome = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? VersionListOutcome::Absent
                                                                                       : VersionListOutcome::Locked;
        return false;
    }
    // A list that leads out of the folder is neither read nor replaced.
    if (!file.IsInside(root)) {
        plan.outcome = VersionListOutcome::Locked;
        return false;
    }
    if (!ReadVersionList(plan.header, plan.records, file)) {
        plan.outcome = VersionListOutcome::NotAVersionList;
        return false;
    }
    return true;
}

void PlanVersionList(const wchar_t* folder, HANDLE held, const std::wstring& root,
                     const std::vector<VersionRecord>& payload, const std::vector<std::wstring>* toBeInstalled,
                     VersionListPlan& plan)
{
    if (!ReadInstalledVersionList(held, root, plan))
        return;
    MergeVersionRecords(plan.header, plan.records, payload);
    PruneMissingRecords(plan.header, plan.records, folder, toBeInstalled);
    plan.outcome = EncodeVersionList(plan.header, plan.records, plan.bytes) ? VersionListOutcome::Updated
                                                                            : VersionListOutcome::Unencodable;
}

uint32_t ListsResult(bool versionListSaved, bool uninstallListSaved)
{
    return versionListSaved && uninstallListSaved ? kResultSuccess : kResultUninstallListFailed;
}
