// What an update does to the installed version list "kpx.hvl": planned once, by the updater before it saves
// and by `mkupdate plan` before anything is installed.
#pragma once
#include <string>
#include <vector>

#include "archive/version_list.h"
#include "update/package/package.h"

class FolderReader;


enum class VersionListOutcome {
    Absent,           // no "kpx.hvl": none is created, and that is no failure
    NotAVersionList,  // there but not a version list: left alone, no failure
    Locked,           // there but not to be opened, or leading out of the folder: a failure
    Unencodable,      // a merged name does not fit its field: not saved, a failure
    Updated,          // `header`, `records` and `bytes` are the new list
    Unchanged,        // read, and left as it is: a run that does not apply (`mkupdate plan` only)
};

struct VersionListPlan {
    VersionListOutcome outcome = VersionListOutcome::Absent;
    VersionListHeader header{};
    std::vector<VersionRecord> records;
    std::vector<unsigned char> bytes;
};

// Keeps, in order, the records whose name exists in `folder` (a file or a folder), or, for a plan made
// before the install, whose name is one of `toBeInstalled` (either separator, any case); sets header.count.
void PruneMissingRecords(VersionListHeader& header, std::vector<VersionRecord>& records, const FolderReader& folder,
                         const std::vector<std::wstring>* toBeInstalled = nullptr);

// Reads "kpx.hvl" in the installation `folder` into `plan`'s header and records, and sets plan.outcome to
// Absent, NotAVersionList or Locked when it cannot; true when it was read.
bool ReadInstalledVersionList(const FolderReader& folder, VersionListPlan& plan);
// Folds the payload's records into the list ReadInstalledVersionList read into `plan` and drops the records of
// files missing in `folder`. `toBeInstalled` names the targets of an install that has not run yet (null once
// it has).
void CompleteVersionListPlan(const FolderReader& folder, const std::vector<VersionRecord>& payload,
                             const std::vector<std::wstring>* toBeInstalled, VersionListPlan& plan);
// Both: reads "kpx.hvl" in `folder`, folds the payload's records in and drops the records of missing files.
void PlanVersionList(const FolderReader& folder, const std::vector<VersionRecord>& payload,
                     const std::vector<std::wstring>* toBeInstalled, VersionListPlan& plan);

// Whether the list `name` in the installation folder may be replaced: not where it is read-only (Windows
// refuses to rename over it, and the updater does not change the attributes the game's files were given).
// The updater asks this before it writes a list's new file, and `mkupdate plan` predicts by it.
bool ListIsReplaceable(const FolderReader& folder, const wchar_t* name);

// A file of the installation and the checksum of what stands under its name once a run is over.
struct StandingFile {
    std::wstring name;
    uint64_t checksum;
};
// A run that does not apply replaces no file, but leaves the version list true of every original it puts
// back: each record of a file in `standing`, in any spelling, takes the checksum of what goes back there.
// True when a record changed. The updater and `mkupdate plan` alike.
bool RecordWhatStands(std::vector<VersionRecord>& records, const std::vector<StandingFile>& standing);

// The run's code once its files are installed: success when both lists were saved (or, for the version
// list, rightly left alone), kResultUninstallListFailed otherwise. The updater and `mkupdate plan` alike.
uint32_t ListsResult(bool versionListSaved, bool uninstallListSaved);
