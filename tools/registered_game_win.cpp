// The game's registered folder, read from the registry as the updater reads it.
#include "tools/registered_game.h"

#include "install/installed_folder_win.h"
#include "util/base/path_capacity.h"
#include "util/text/encoding.h"

bool FindRegisteredGame(std::wstring& game, std::string& problem)
{
    wchar_t folder[kFolderCapacity] = L"";
    if (!GetInstalledFolder(folder, kGameVendor, kGameTitle) || !IsAbsoluteFolder(folder)) {
        problem = "the game is not registered (HKLM\\Software\\" + ToUtf8(kGameVendor) + "\\" + ToUtf8(kGameTitle) +
                  ", InstalledFolder): name its folder with --game";
        return false;
    }
    game = folder;
    return true;
}
