// Every crash point of one run of the updater on one installation, each followed by a second, whole run: for
// tests/delta_model_test.py, which holds what is left against the model's end state. The installation as it
// is now is kept in OUT\start; for each point it is made again from there, the update run in this process
// through the writer's file-operation seam and stopped after operation N (a kill, or a power cut taking what
// was not flushed or committed), then run again without a stop. What the second run left is copied to
// OUT\N-kill or OUT\N-cut, and a line "point N kill|cut 0xRESULT" is printed; last "points: COUNT".
//   crash_points PACKAGE GAME OUT
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/fault_seam.h"
#include "tests/testing_support.h"
#include "ui/app_state.h"
#include "update/run/driver.h"

namespace {

bool CopyTree(const std::wstring& from, const std::wstring& to)
{
    if (!CreateDirectoryW(to.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    WIN32_FIND_DATAW fd;
    const HANDLE h = FindFirstFileW((from + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    bool all = true;
    do {
        const std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            all = CopyTree(from + L"\\" + name, to + L"\\" + name) && all;
        else
            all = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), TRUE) && all;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return all;
}

uint32_t Run(const std::wstring& game, const std::wstring& package)
{
    g_cancelRequested = g_abortRequested = 0;
    return HoldAndRunUpdate(game.c_str(), package.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    const std::wstring package = argv[1], game = argv[2], out = argv[3];
    const std::wstring start = out + L"\\start";
    RemoveTree(out);
    if (!CreateDirectoryW(out.c_str(), nullptr) || !CopyTree(game, start)) {
        std::printf("cannot keep the installation in the output folder\n");
        return 1;
    }
    auto restore = [&] {
        RemoveTree(game);
        return CopyTree(start, game);
    };
    int count = 0;
    {
        FaultSeam seam;
        Run(game, package);
        count = static_cast<int>(seam.ops().size());
    }
    for (int n = 0; n <= count; ++n) {
        for (const bool cut : {false, true}) {
            if (!restore()) {
                std::printf("cannot make the installation again\n");
                return 1;
            }
            {
                FaultPlan plan;
                plan.stopAfter = n;
                plan.powerCut = cut;
                FaultSeam seam(plan);
                Run(game, package);
            }
            const uint32_t again = Run(game, package);
            const wchar_t* kind = cut ? L"cut" : L"kill";
            if (!CopyTree(game, out + L"\\" + std::to_wstring(n) + L"-" + kind)) {
                std::printf("cannot keep what point %d left\n", n);
                return 1;
            }
            std::printf("point %d %ls 0x%08X\n", n, kind, again);
        }
    }
    restore();
    std::printf("points: %d\n", count + 1);
    return 0;
}
