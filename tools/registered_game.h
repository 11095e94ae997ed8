// The installation plan reads when no --game names one: the folder the game is registered under, as the
// updater finds it. Windows asks its registry (registered_game_win.cpp); no other system has one
// (registered_game_posix.cpp).
#pragma once
#include <string>

// The registered folder in `game`; false with `problem` (one line) when there is none to read.
bool FindRegisteredGame(std::wstring& game, std::string& problem);
