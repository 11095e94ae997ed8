// The uninstall list's replacement, through the held folder.
#include "install/uninstall_list_update.h"

#include "util/folder/folder_reader.h"
#include "util/held/contained_files.h"
#include "util/held/replace_file.h"

bool UpdateUninstallList(HANDLE folder, const std::wstring& root, const std::vector<std::wstring>& targetNames)
{
    std::string text;
    return PlanUninstallList(*ReadHeldFolder(std::wstring(), folder, root), targetNames, text) &&
           ReplaceFileIn(folder, kUninstallListName, text.data(), static_cast<uint32_t>(text.size()), root);
}

