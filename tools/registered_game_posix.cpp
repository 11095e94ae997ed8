// No registry to read the game's folder from.
#include "tools/registered_game.h"

bool FindRegisteredGame(std::wstring&, std::string& problem)
{
    problem = "without --game, plan reads the game's folder from the Windows registry, which this system has not: "
              "name the folder with --game";
    return false;
}
