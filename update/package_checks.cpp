// Package checks: everything that can be known to be wrong with a package before any of it is copied.
#include "update/package_checks.h"

#include <cwchar>

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "update/list_updates.h"
#include "util/code_page.h"
#include "util/encoding.h"
#include "util/folder_reader.h"
#include "util/relative_path.h"
#include "util/replacement_name.h"
#include "util/strings.h"

namespace {

// The path a relative name reaches in the installation, every part that exists in its long form; without
// an installation, the name as it is.
std::wstring ResolvedName(const FolderReader* folder, const std::wstring& name)
{
    return folder ? folder->LongName(name) : name;
}

// Beside each target the updater writes its temporary file, the temporary file's replacement when a link
// stands at that name, and the original kept aside.
const std::wstring kHelperSuffixes[] = {kTemporarySuffix, std::wstring(kTemporarySuffix) + kReplacementSuffix,
                                        kKeptSuffix};

bool EndsWithKeptSuffix(const std::wstring& name)
{
    const size_t n = wcslen(kKeptSuffix);
    return name.size() >= n && SameTextIgnoringCase(name.data() + name.size() - n, n, kKeptSuffix, n);
}

uint32_t Damaged(std::string& problem, const std::string& text)
{
    problem = text;
    return kResultDamaged;
}

}  // namespace

bool TemporaryPath(const wchar_t* folder, const std::wstring& target, wchar_t* path)
{
    return FormatWide(path, kPathCapacity, L"%s\\%s.tmp", folder, target.c_str()) >= 0;
}

uint32_t CheckUpdatePackage(UpdatePackage& package, const FolderReader* folder, EntryTargets& targets,
                            std::string& problem)
{
    if (LoadPayloadVersionList(package) != kResultSuccess)
        return Damaged(problem, std::string("the payload's version list \"") + kPayloadVersionListName + "\" is damaged");
    const size_t count = package.entries.size();
    EntryTargets out;
    out.names.assign(count, std::wstring());
    out.records.assign(count, kNoRecord);
    std::vector<std::wstring> resolved(count);
    std::vector<std::vector<std::wstring>> helpers(count);  // per target: the names the updater writes beside it
    std::vector<std::wstring> listHelpers;
    for (const wchar_t* list : {kVersionListName, kUninstallListName})
        for (const std::wstring& helper : {list + std::wstring(kReplacementSuffix),
                                           list + std::wstring(kReplacementSuffix) + kReplacementSuffix})
            listHelpers.push_back(ResolvedName(folder, helper));
    std::vector<bool> recordUsed(package.records.size(), false);
    for (size_t i = 0; i < count; ++i) {
        const ArchiveEntry& e = package.entries[i];
        if (!EntryInsideFile(package, e))
            return Damaged(problem, "entry \"" + e.name + "\": its data runs past the end of the file (truncated?)");
        const int record = FindRecordByFileName(package.records, package.versionHeader.count, e.name);
        const std::string& target = record == kNoRecord ? e.name : package.records[record].name;
        if (SameArchiveName(target, kVersionListKey))
            continue;  // the payload's version list is merged, not installed as a file
        std::wstring& name = out.names[i];
        // The program runs elevated: a name that could leave the installation folder is damage.
        if (!MultiByteToWide(target.c_str(), name) || !IsSafeRelativePath(name))
            return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                        "\" leaves the installation folder");
        for (wchar_t& c : name)
            if (c == L'/')
                c = L'\\';
        out.records[i] = record;
        if (record != kNoRecord)
            recordUsed[record] = true;
        resolved[i] = ResolvedName(folder, name);
        for (const std::wstring& suffix : kHelperSuffixes)
            helpers[i].push_back(ResolvedName(folder, name + suffix));
        // The install phase keeps each original aside under that name while it replaces it.
        if (EndsWithKeptSuffix(name) || EndsWithKeptSuffix(resolved[i]))
            return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                        "\" ends in \".kept\", the name the updater keeps replaced files under");
        // The lists are rewritten through files of their own beside them.
        for (const std::wstring& listHelper : listHelpers)
            if (SameTextIgnoringCase(resolved[i], listHelper))
                return Damaged(problem, "entry \"" + e.name + "\": its install path \"" + target +
                                            "\" is a name the updater writes the installation's lists through");
        // Two entries for one file would fail the second move after the first had replaced the file; a
        // target that is another entry's temporary file would let the moves swap their bytes.
        for (size_t j = 0; j < i; ++j) {
            if (out.names[j].empty())
                continue;
            bool same = SameTextIgnoringCase(resolved[i], resolved[j]);
            for (size_t h = 0; h < helpers[i].size(); ++h)
                same = same || SameTextIgnoringCase(resolved[i], helpers[j][h]) ||
                       SameTextIgnoringCase(helpers[i][h], resolved[j]) ||
                       SameTextIgnoringCase(helpers[i][h], helpers[j][h]);
            if (same)
                return Damaged(problem, "entries \"" + package.entries[j].name + "\" and \"" + e.name +
                                            "\" reach the same file (\"" + ToUtf8(out.names[j]) + "\", \"" +
                                            ToUtf8(name) + "\")");
        }
    }
    for (size_t r = 0; r < recordUsed.size(); ++r) {
        if (!recordUsed[r])
            return Damaged(problem, "version record \"" + package.records[r].name + "\" names no entry of the payload");
    }
    targets.names.swap(out.names);
    targets.records.swap(out.records);
    return kResultSuccess;
}
