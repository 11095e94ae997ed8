// Planning the installed version list's update: merge the payload's records, then prune, in memory.
#include "update/package/list_updates.h"

#include "archive/entry_lists.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"
#include "util/fs/relative_path.h"
#include "util/text/code_page.h"
#include "util/text/encoding.h"

namespace {

bool IsToBeInstalled(std::wstring name, const std::vector<std::wstring>* toBeInstalled)
{
    if (!toBeInstalled)
        return false;
    for (const std::wstring& target : *toBeInstalled)
        if (!target.empty() && SameRelativePath(target, name))
            return true;
    return false;
}

}  // namespace

void PruneMissingRecords(VersionListHeader& header, std::vector<VersionRecord>& records, const FolderReader& folder,
                         const std::vector<std::wstring>* toBeInstalled)
{
    std::vector<VersionRecord> kept;
    const size_t n = header.count < records.size() ? header.count : records.size();
    for (size_t i = 0; i < n; ++i) {
        std::wstring name;
        // A name that does not convert counts as a missing file.
        if (!MultiByteToWide(records[i].name.c_str(), name))
            continue;
        if (folder.Exists(name) || IsToBeInstalled(name, toBeInstalled))
            kept.push_back(records[i]);
    }
    records.swap(kept);
    header.count = static_cast<uint32_t>(records.size());
}

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

bool RecordWhatStands(std::vector<VersionRecord>& records, const std::vector<StandingFile>& standing)
{
    bool changed = false;
    for (VersionRecord& r : records) {
        for (const StandingFile& f : standing) {
            if (r.value != f.checksum && SameRecordName(r.name, ToUtf8(f.name))) {
                r.value = f.checksum;
                changed = true;
            }
        }
    }
    return changed;
}

bool ListIsReplaceable(const FolderReader& folder, const wchar_t* name) { return !folder.IsReadOnly(name); }
