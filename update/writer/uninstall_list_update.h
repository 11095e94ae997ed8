// Replacing the installed uninstall list with its planned bytes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "install/uninstall_list.h"

// Plans the list in the held `folder` (its final path `root`) and replaces it whole
// (util/held/replace_file.h). False when planning fails or the list cannot be replaced; the old list then stays
// as it was.
bool UpdateUninstallList(HANDLE folder, const std::wstring& root, const std::vector<std::wstring>& targetNames);
