// user_driver: the demonstration's hands. "prepare" makes a sample game installation and the files of
// a sample update and registers the game (with --japanese, in a Japanese folder with a Japanese file); "run" starts an updater, answers it as a user would, and prints
// what the user saw and what the installation held before and after.
#include <windows.h>

#include <cstdio>
#include <string>

#include "archive/version_list.h"
#include "tests/package_factory.h"
#include "tests/user_session.h"
#include "tools/columns.h"

namespace {

std::string Narrow(const std::wstring& text)
{
    std::string out(text.size() * 3 + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// Points the registered installation at ROOT\game, a folder with the shipped archives' names.
bool BenchInstallation(const std::wstring& root, const std::vector<std::string>& names)
{
    const std::wstring game = root + L"\\game";
    MakeDir(game);
    MakeInstallation(game, names);
    return RegisterInstallation(game);
}

// The players' usual setup: the game below "ゲーム\硝子の羽を数えて", and a shipped file with a Japanese name.
const wchar_t kJapaneseGame[] = L"\u30B2\u30FC\u30E0\\\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";
const wchar_t kJapaneseFile[] = L"\u8FFD\u52A0\u30B7\u30CA\u30EA\u30AA.arc";

// The earlier version for a delta update: the installed "data01200.arc" and "data01300.arc" as they are also
// kept in ROOT\base for the builder, and the shipped ones made from them with a few inner files changed.
void PrepareDeltaUpdate(const std::wstring& root, const std::wstring& game, size_t size)
{
    MakeDir(root + L"\\base");
    MakeDir(root + L"\\base\\Archive");
    std::vector<VersionRecord> records;
    for (int i = 0; i < 2; ++i) {
        const std::wstring name = i == 0 ? L"data01200.arc" : L"data01300.arc";
        const Bytes base = RandomBytes(size + 0x1000 * i, 7200 + i);
        Bytes shipped = base;
        for (size_t at = size / 7; at + 65536 < size; at += size / 3) {
            const Bytes inner = RandomBytes(65536, static_cast<unsigned>(at));
            std::copy(inner.begin(), inner.end(), shipped.begin() + static_cast<std::ptrdiff_t>(at));
        }
        const Bytes added = RandomBytes(100000, 7300 + i);
        shipped.insert(shipped.begin() + static_cast<std::ptrdiff_t>(size / 2), added.begin(), added.end());
        WriteBytes(root + L"\\base\\Archive\\" + name, base);
        WriteBytes(game + L"\\Archive\\" + name, base);
        WriteBytes(root + L"\\ship\\Archive\\" + name, shipped);
        records.push_back({"Archive\\" + Narrow(name), ChecksumOf(base)});
    }
    WriteBytes(game + L"\\kpx.hvl", MakeVersionList(records));
}

// An archive as a game ships it, for a compressed update: its first third media that is compressed already
// (random bytes), then raw bitmap-like rows, then a script's text.
Bytes GameLikeArchive(size_t size, unsigned seed)
{
    Bytes bytes = RandomBytes(size, seed);
    for (size_t at = size / 3; at < 2 * size / 3; ++at)
        bytes[at] = static_cast<uint8_t>((at % 1024) / 4 + (at / 65536) % 7);
    static const char line[] = "\x81\x75scene 12\x81\x76 the heroine speaks; the player chooses a line.\r\n";
    for (size_t at = 2 * size / 3; at < size; ++at)
        bytes[at] = static_cast<uint8_t>(line[at % (sizeof line - 1)] + ((at / 4096) % 5 == 0 ? 1 : 0));
    return bytes;
}

int Prepare(const std::wstring& root, bool japanese, bool delta, bool compress)
{
    RemoveTree(root);
    MakeDir(root);
    const std::wstring game = root + L"\\" + (japanese ? kJapaneseGame : L"game");
    if (japanese)
        MakeDir(game.substr(0, game.find_last_of(L'\\')));
    MakeDir(game);
    MakeInstallation(game, {"data00100.arc", "data01200.arc", "data01300.arc"});
    MakeDir(root + L"\\ship");
    MakeDir(root + L"\\ship\\Archive");
    const wchar_t* names[] = {L"data01200.arc", L"data01300.arc", L"data01510.arc"};
    // Some megabytes each, so that every file's status line stands long enough for the driver to read it.
    const size_t size = 32u << 20;
    for (int i = 0; i < 3; ++i)
        WriteBytes(root + L"\\ship\\Archive\\" + names[i],
                   compress ? GameLikeArchive(size + 0x17F9 + 0x1000 * i, 7000 + i)
                            : RandomBytes(size + 0x17F9 + 0x1000 * i, 7000 + i));
    if (japanese)
        WriteBytes(root + L"\\ship\\Archive\\" + kJapaneseFile, RandomBytes(size + 0x2345, 7100));
    if (delta)
        PrepareDeltaUpdate(root, game, size);

    if (!RegisterInstallation(game))
        return 1;
    printf("prepared %s: a game installation in %s (registered in HKLM), files to ship in %s\n",
           Narrow(root).c_str(), Narrow(game).c_str(), Narrow(root + L"\\ship").c_str());
    return 0;
}

void PrintInstallation(const char* heading, const std::wstring& game)
{
    printf("\n== %s: %s\n", heading, Narrow(game).c_str());
    for (const std::wstring& f : ListFiles(game)) {
        Bytes b = ReadBytes(game + L"\\" + f);
        printf("  file %s %8zu bytes  checksum %016llX\n", PadToWidth(Narrow(f), 28).c_str(), b.size(),
               static_cast<unsigned long long>(ChecksumOf(b)));
    }
    VersionListHeader header;
    std::vector<VersionRecord> records;
    if (LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str())) {
        for (const VersionRecord& r : records)
            printf("  kpx.hvl record %s %016llX\n", PadToWidth(r.name, 28).c_str(), static_cast<unsigned long long>(r.value));
    }
    Bytes list = ReadBytes(game + L"\\uninst.lst");
    std::string text(list.begin(), list.end());
    size_t start = 0;
    while (start < text.size() && text[start] != '\0') {
        size_t end = text.find_first_of(std::string("\r\n\0", 3), start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            printf("  uninst.lst line %s\n", text.substr(start, end - start).c_str());
        start = end + 1;
    }
}

int Run(const std::wstring& updater, const std::wstring& game)
{
    PrintInstallation("installation before", game);
    UserScript script;
    script.updater = updater;
    Transcript t = RunAsUser(script);
    printf("\n== what the user saw (the driver answered Yes, then OK)\n%s", Describe(t).c_str());
    PrintInstallation("installation after", game);
    return t.started && t.finished ? 0 : 1;
}

// Ships `mib` MiB in `files` archives, over a fresh installation of the same names.
int BenchPrepare(const std::wstring& root, int mib, int files)
{
    RemoveTree(root);
    MakeDir(root);
    MakeDir(root + L"\\ship");
    MakeDir(root + L"\\ship\\Archive");
    const size_t size = (static_cast<size_t>(mib) << 20) / files;
    std::vector<std::string> names;
    Bytes data(size);
    uint32_t x = 2463534242u;
    for (int i = 0; i < files; ++i) {
        for (auto& b : data) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<uint8_t>(x);
        }
        names.push_back("data0" + std::to_string(1200 + i) + ".arc");
        WriteBytes(root + L"\\ship\\Archive\\" + std::wstring(names.back().begin(), names.back().end()), data);
    }
    return BenchInstallation(root, names) ? 0 : 1;
}

// Installs ROOT\base\Archive's files as the registered game's archives, with a version list recording them:
// the installed version a delta package's benchmark starts from, again before every run.
int BenchBase(const std::wstring& root)
{
    const std::wstring game = root + L"\\game";
    std::vector<VersionRecord> records;
    for (const std::wstring& name : ListFiles(root + L"\\base\\Archive")) {
        if (!CopyFileW((root + L"\\base\\Archive\\" + name).c_str(), (game + L"\\Archive\\" + name).c_str(), FALSE))
            return 1;
        records.push_back({"Archive\\" + Narrow(name), ChecksumOf(ReadBytes(game + L"\\Archive\\" + name))});
    }
    return WriteBytes(game + L"\\kpx.hvl", MakeVersionList(records)) ? 0 : 1;
}

int BenchRun(const std::wstring& updater)
{
    UserScript script;
    script.updater = updater;
    script.timeoutMs = 600000;
    script.pollMs = _wtoi(_wgetenv(L"BENCH_POLL_MS") ? _wgetenv(L"BENCH_POLL_MS") : L"2");
    script.readDialog = false;
    Transcript t = RunAsUser(script);
    printf("exit=%ld update_seconds=%.3f total_seconds=%.3f\n", static_cast<long>(static_cast<int>(t.exitCode)),
           t.updateSeconds, t.totalSeconds);
    return t.finished && t.exitCode == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring option = argc == 4 ? argv[3] : L"";
    if ((argc == 3 || option == L"--japanese" || option == L"--delta" || option == L"--compress") &&
        std::wstring(argv[1]) == L"prepare")
        return Prepare(argv[2], option == L"--japanese", option == L"--delta", option == L"--compress");
    if (argc == 4 && std::wstring(argv[1]) == L"run")
        return Run(argv[2], argv[3]);
    if ((argc == 4 || argc == 5) && std::wstring(argv[1]) == L"bench-prepare")
        return BenchPrepare(argv[2], _wtoi(argv[3]), argc == 5 ? _wtoi(argv[4]) : 8);
    if (argc == 3 && std::wstring(argv[1]) == L"bench-base")
        return BenchBase(argv[2]);
    if (argc == 3 && std::wstring(argv[1]) == L"bench-run")
        return BenchRun(argv[2]);
    fprintf(stderr, "usage: user_driver prepare FOLDER [--japanese | --delta | --compress] | run UPDATER GAME_FOLDER | bench-prepare FOLDER MIB [FILES] | "
                    "bench-base FOLDER | bench-run UPDATER\n");
    return 2;
}
