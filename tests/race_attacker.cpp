// A local user racing the elevated updater from a second Windows program: over and over, it renames each
// folder it is given away and moves a folder of its own into its place, until a stop file appears (or two
// minutes pass). Its figures go to a file: "<attempts> <moved>", where <moved> counts every time a folder it was
// given was moved away at all, whether or not its own folder then went in: a held folder must never move.
//   race_attacker STOP FIGURES FOLDER DECOY [FOLDER DECOY ...]
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5 || argc % 2 == 0)
        return 2;
    struct Pair {
        std::wstring folder, away, decoy;
    };
    std::vector<Pair> pairs;
    for (int i = 3; i + 1 < argc; i += 2)
        pairs.push_back({argv[i], std::wstring(argv[i]) + L".away", argv[i + 1]});
    unsigned long attempts = 0, moved = 0;
    const ULONGLONG end = GetTickCount64() + 120000;
    while (GetFileAttributesW(argv[1]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end) {
        for (const Pair& p : pairs) {
            ++attempts;
            if (MoveFileExW(p.folder.c_str(), p.away.c_str(), 0)) {
                ++moved;
                MoveFileExW(p.decoy.c_str(), p.folder.c_str(), 0);
            }
        }
        SwitchToThread();
    }
    FILE* out = _wfopen(argv[2], L"w");
    if (!out)
        return 1;
    fprintf(out, "%lu %lu\n", attempts, moved);
    fclose(out);
    return 0;
}
