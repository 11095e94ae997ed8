// mkupdate's commands behind the system's own entry point (mkupdate_win.cpp, mkupdate_posix.cpp).
#pragma once

// Runs the command `argv` names (UTF-16 arguments, argv[0] the program) and returns the exit code.
int RunMkupdate(int argc, wchar_t** argv);
