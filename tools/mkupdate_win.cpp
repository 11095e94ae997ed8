// mkupdate's entry on Windows: the arguments arrive as UTF-16.
#include "tools/mkupdate.h"

int wmain(int argc, wchar_t** argv) { return RunMkupdate(argc, argv); }
