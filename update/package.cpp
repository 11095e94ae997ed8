// Opening the update package and finding its version list.
#include "update/package.h"

#include <windows.h>

#include "archive/entry_lists.h"
#include "util/strings.h"

uint32_t OpenUpdatePackage(UpdatePackage& package, const wchar_t* path)
{
    wchar_t ownPath[kFolderCapacity];
    if (!path) {
        DWORD n = GetModuleFileNameW(nullptr, ownPath, kFolderCapacity);
        if (n == 0 || n >= kFolderCapacity)
            return kResultUnreadable;
        path = ownPath;
    }
    if (!package.file.Open(path))
        return kResultUnreadable;
    const uint32_t size = package.file.GetSize();
    if (size < PayloadOffset)  // also a failed size query: 0xFFFFFFFF is not below
        return size == 0xFFFFFFFF ? kResultUnreadable : kResultDamaged;
    if (!package.file.Seek(PayloadOffset) || !ReadArchiveIndex(package.header, package.entries, package.file))
        return kResultUnreadable;
    if (package.header.count > kMaxPayloadEntries)
        return kResultDamaged;
    return 0;
}

void LoadPayloadVersionList(UpdatePackage& package)
{
    package.versionHeader = VersionListHeader{};
    package.records.clear();
    for (const ArchiveEntry& e : package.entries) {
        if (!SameArchiveName(e.name, kVersionListKey))
            continue;
        // A list that cannot be read leaves the header zero and the records empty: no version list.
        if (SeekToEntry(package, e))
            ReadVersionList(package.versionHeader, package.records, package.file);
        return;
    }
}

bool SeekToEntry(UpdatePackage& package, const ArchiveEntry& entry)
{
    return package.file.Seek(static_cast<int64_t>(PayloadOffset + entry.position)) != 0;
}
