// The uninstall list's replacement, through the held folder.
#include "update/writer/uninstall_list_update.h"

#include "update/package/list_updates.h"
#include "util/folder/folder_reader_win.h"
#include "util/held/contained_files.h"
#include "util/held/replace_file.h"

bool UpdateUninstallList(HANDLE folder, const std::wstring& root, const std::vector<std::wstring>& targetNames)
{
    std::string text;
    const std::unique_ptr<FolderReader> reader = ReadHeldFolder(std::wstring(), folder, root);
    return PlanUninstallList(*reader, targetNames, text) && ListIsReplaceable(*reader, kUninstallListName) &&
           ReplaceFileIn(folder, kUninstallListName, text.data(), static_cast<uint32_t>(text.size()), root);
}

