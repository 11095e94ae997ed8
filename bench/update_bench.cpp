// update_bench: the update engine alone, in this process and without a window: one run of a package over
// an installation, timed. Usage: update_bench PACKAGE FOLDER. Prints "engine_seconds=S result=R".
#include <windows.h>

#include <cstdio>

#include "update/run/driver.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const uint32_t result = HoldAndRunUpdate(argv[2], argv[1]);
    QueryPerformanceCounter(&end);
    printf("engine_seconds=%.3f result=%08X\n",
           static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), result);
    return result == 0 ? 0 : 1;
}
