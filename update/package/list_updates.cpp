// Planning the installed version list's update: merge the payload's records, then prune, in memory.
#include "update/package/list_updates.h"

#include "archive/entry_lists.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"

bool ReadInstalledVersionList(const FolderReader& folder, VersionListPlan& plan)
{
    plan = VersionListPlan{};
    CFileDX file;
    // A list that leads out of the folder is neither read nor replaced.
    const FolderReader::Opened opened = folder.OpenList(kVersionListName, file);
    if (opened != FolderReader::Opened::Yes) {
        plan.outcome = opened == FolderReader::Opened::Missing ? VersionListOutcome::Absent : VersionListOutcome::Locked;
        return false;
    }
    if (!ReadVersionList(plan.header, plan.records, file)) {
        plan.outcome = VersionListOutcome::NotAVersionList;
        return false;
    }
    return true;
}

void PlanVersionList(const FolderReader& folder, const std::vector<VersionRecord>& payload,
                     const std::vector<std::wstring>* toBeInstalled, VersionListPlan& plan)
{
    if (ReadInstalledVersionList(folder, plan))
        CompleteVersionListPlan(folder, payload, toBeInstalled, plan);
}

void CompleteVersionListPlan(const FolderReader& folder, const std::vector<VersionRecord>& payload,
                             const std::vector<std::wstring>* toBeInstalled, VersionListPlan& plan)
{
    MergeVersionRecords(plan.header, plan.records, payload);
    PruneMissingRecords(plan.header, plan.records, folder, toBeInstalled);
    plan.outcome = EncodeVersionList(plan.header, plan.records, plan.bytes) ? VersionListOutcome::Updated
                                                                            : VersionListOutcome::Unencodable;
}

uint32_t ListsResult(bool versionListSaved, bool uninstallListSaved)
{
    return versionListSaved && uninstallListSaved ? kResultSuccess : kResultUninstallListFailed;
}
