// The names of the files this system reads and writes in an installation and in its own payload, and the
// suffixes of the files it writes beside them: each spelled here once. A name that the payload and the
// installation share is one literal, taken in both widths.
#pragma once
#include <string>
#include <vector>

#define GARASU_VERSION_LIST "kpx.hvl"
#define GARASU_UNINSTALL_LIST "uninst.lst"

// The version list: the installed file, and the key (ASCII lower case) its payload entry is found by.
const wchar_t kVersionListName[] = L"" GARASU_VERSION_LIST;
const char kVersionListKey[] = GARASU_VERSION_LIST;
// The payload entry's own spelling, as every package has written it.
const char kPayloadVersionListName[] = "KPX.hvl";
// The delta table's payload entry, as written and as its key.
const char kDeltaTableName[] = "KPX.dlt";
const char kDeltaTableKey[] = "kpx.dlt";
// The compression table's payload entry, as written and as its key.
const char kCompressionTableName[] = "KPX.cmp";
const char kCompressionTableKey[] = "kpx.cmp";
// The game's uninstall list in the installation folder.
const wchar_t kUninstallListName[] = L"" GARASU_UNINSTALL_LIST;

// Each new file is copied under this suffix beside its target ("Archive\data01200.arc.tmp").
const wchar_t kTemporarySuffix[] = L".tmp";
// Each installed file is first kept aside under this suffix ("Archive\data01200.arc.kept"), so that a
// failed run can put it back. The package checks refuse targets of that form.
const wchar_t kKeptSuffix[] = L".kept";
// The suffix of a new file written beside a name and then renamed over it ("<name>.new"): the lists' new
// files, and the file that replaces a link standing at a name.
const wchar_t kReplacementSuffix[] = L".new";

// The name of the new file written beside `name` and renamed over it: "<name>.new".
inline std::wstring ReplacementName(const std::wstring& name) { return name + kReplacementSuffix; }
// Every name a whole-file replacement of `name` (the lists') writes beside it: its new file, and where a link
// that cannot be removed stands at that name, the new file's own replacement ("<name>.new.new").
inline std::vector<std::wstring> ReplacementNames(const std::wstring& name)
{
    return {ReplacementName(name), ReplacementName(ReplacementName(name))};
}
// The lists the updater rewrites whole.
const wchar_t* const kReplacedLists[] = {kVersionListName, kUninstallListName};

#undef GARASU_VERSION_LIST
#undef GARASU_UNINSTALL_LIST
