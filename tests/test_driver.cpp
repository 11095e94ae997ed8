// The update driver on real folders and real package files, with its real progress dialog: what the
// installation holds after each way a run can end.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <map>

#include "tests/package_factory.h"
#include "tests/window_driver.h"
#include "tools/zstd_frame_writer.h"
#include "ui/app_state.h"
#include "ui/languages.h"
#include "ui/progress_dialog.h"
#include "ui/progress_view.h"
#include "ui/resource.h"
#include "archive/compression_table.h"
#include "update/package/package.h"
#include "update/run/driver.h"
#include "util/base/handles_win.h"
#include "util/base/threads.h"

namespace {

using Snapshot = std::map<std::wstring, Bytes>;

Snapshot TakeSnapshot(const std::wstring& folder)
{
    Snapshot s;
    for (const std::wstring& f : ListFiles(folder))
        s[f] = ReadBytes(folder + L"\\" + f);
    return s;
}

// What the driver showed: every status text and bar position, in order.
struct Shown {
    std::vector<std::wstring> status;
    std::vector<std::pair<int, LPARAM>> ranges;     // control id, maximum
    std::vector<std::pair<int, WPARAM>> positions;  // control id, position
    std::map<int, int> paints;                      // control id, WM_PAINT messages
    std::function<void(int, WPARAM)> onPosition;    // called as each position is set
};
Shown* g_shown = nullptr;
WNDPROC g_originalProcs[4] = {};

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const int id = GetDlgCtrlID(window);
    if (g_shown) {
        if (message == WM_SETTEXT)
            g_shown->status.push_back(reinterpret_cast<const wchar_t*>(lParam));
        if (message == PBM_SETRANGE32)
            g_shown->ranges.push_back({id, lParam});
        if (message == WM_PAINT)
            ++g_shown->paints[id];
        if (message == PBM_SETPOS) {
            g_shown->positions.push_back({id, wParam});
            if (g_shown->onPosition)
                g_shown->onPosition(id, wParam);
        }
    }
    return CallWindowProcW(g_originalProcs[id - IDC_CANCEL_BUTTON], window, message, wParam, lParam);
}

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = dir / L"game";
        package = dir / L"updater.exe";
        MakeDir(game);
        g_cancelRequested = g_abortRequested = 0;
        wcscpy(g_titleText, L"Test updater");
        ASSERT_TRUE(RegisterProgressBarClass());
        g_hProgressDlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kLanguages[0].progressTemplate), nullptr,
                                            ProgressDialogProc, 0);
        ASSERT_NE(nullptr, g_hProgressDlg);
        ShowWindow(g_hProgressDlg, SW_SHOW);
        for (int id = IDC_STATUS_LINE; id <= IDC_TOTAL_BAR; ++id) {
            HWND control = GetDlgItem(g_hProgressDlg, id);
            g_originalProcs[id - IDC_CANCEL_BUTTON] = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
        }
        g_shown = &shown;
    }
    void TearDown() override
    {
        g_shown = nullptr;
        if (g_hProgressDlg)
            DestroyWindow(g_hProgressDlg);
        g_hProgressDlg = nullptr;
        g_cancelRequested = g_abortRequested = 0;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    uint32_t Run(const std::vector<FakeEntry>& entries)
    {
        EXPECT_TRUE(WriteBytes(package, MakeUpdater(entries)));
        return HoldAndRunUpdate(game.c_str(), package.c_str());
    }
    uint32_t RunFile(const Bytes& file)
    {
        EXPECT_TRUE(WriteBytes(package, file));
        return HoldAndRunUpdate(game.c_str(), package.c_str());
    }
    // Every file in the folder is unchanged and no temporary file is left.
    void ExpectUnchanged(const Snapshot& before)
    {
        const Snapshot now = TakeSnapshot(game);
        for (const auto& f : before) {
            auto it = now.find(f.first);
            EXPECT_TRUE(it != now.end() && it->second == f.second) << "changed or gone: " << Narrow(f.first);
        }
        for (const auto& f : now)
            EXPECT_TRUE(before.count(f.first)) << "new file: " << Narrow(f.first);
    }
    static std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }
    std::vector<WPARAM> PositionsOf(int id)
    {
        std::vector<WPARAM> out;
        for (auto& p : shown.positions)
            if (p.first == id)
                out.push_back(p.second);
        return out;
    }
    std::string Uninst()
    {
        Bytes b = ReadBytes(game + L"\\uninst.lst");
        return std::string(b.begin(), b.end());
    }

    TempDir dir;
    std::wstring game, package;
    Shown shown;
};

const std::string kNul(1, '\0');

}  // namespace

TEST_F(DriverTest, FullUpdateInstallsMergesPrunesAndExtendsTheLists)
{
    MakeInstallation(game, {"data00100.arc", "DATA01200.ARC", "gone.arc"});
    DeleteFileW((game + L"\\Archive\\gone.arc").c_str());
    const SampleUpdate update = MakeSampleUpdate(7);
    ASSERT_EQ(kResultSuccess, Run(update.entries));

    for (size_t i = 1; i < update.entries.size(); ++i) {
        std::wstring name(update.entries[i].name.begin(), update.entries[i].name.end());
        EXPECT_EQ(update.entries[i].data, ReadBytes(game + L"\\Archive\\" + name)) << update.entries[i].name;
    }
    // data01200.arc replaced the old DATA01200.ARC in place (names compare without case on Windows).
    std::vector<std::wstring> files = ListFiles(game);
    EXPECT_EQ(10u, files.size());  // data00100.arc, 7 archives, kpx.hvl, uninst.lst, and nothing else
    for (const std::wstring& f : files)
        EXPECT_EQ(std::wstring::npos, f.find(L".tmp")) << f;

    VersionListHeader header;
    std::vector<VersionRecord> records;
    ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
    ASSERT_EQ(8u, records.size());
    EXPECT_EQ("Archive\\data00100.arc", records[0].name);
    EXPECT_EQ("Archive\\DATA01200.ARC", records[1].name);  // merged: keeps its own name, takes the new value
    EXPECT_EQ(ChecksumOf(update.entries[1].data), records[1].value);
    EXPECT_EQ("Archive\\data01300.arc", records[2].name);
    EXPECT_EQ("Archive\\data01800.arc", records[7].name);
    EXPECT_EQ(8u, header.count);

    std::string expected = "archive\\data00100.arc\narchive\\data01200.arc\narchive\\gone.arc\nkpx.hvl\n";
    for (int i = 13; i <= 18; ++i)
        expected += "archive\\data0" + std::to_string(i) + "00.arc\n";
    EXPECT_EQ(expected + "$folder\n" + kNul, Uninst());

    // The status line named the version list entry, then each record path; bar 1003 ended at 8.
    ASSERT_EQ(8u, shown.status.size());
    EXPECT_EQ(L"Installing \"KPX.hvl\".", shown.status[0]);
    EXPECT_EQ(L"Installing \"Archive\\data01200.arc\".", shown.status[1]);
    EXPECT_EQ(L"Installing \"Archive\\data01800.arc\".", shown.status[7]);
    EXPECT_EQ(8u, PositionsOf(IDC_TOTAL_BAR).back());
    EXPECT_EQ((std::vector<std::pair<int, LPARAM>>{{IDC_ITEM_BAR, 65535}, {IDC_TOTAL_BAR, 8}}), shown.ranges);

    // The same update again changes nothing in the lists and still succeeds.
    const Snapshot after = TakeSnapshot(game);
    ASSERT_EQ(kResultSuccess, Run(update.entries));
    EXPECT_EQ(after, TakeSnapshot(game));
}

TEST_F(DriverTest, CopyPhaseFailuresInstallNothingAndLeaveNoTemporaryFile)
{
    MakeInstallation(game, {"data01200.arc", "data01300.arc"});
    const Snapshot before = TakeSnapshot(game);
    SampleUpdate update = MakeSampleUpdate(3);

    SampleUpdate mismatch = update;
    mismatch.entries[2].data[100] ^= 1;  // the second archive no longer gives its record's checksum
    EXPECT_EQ(kResultDamaged, Run(mismatch.entries));
    ExpectUnchanged(before);

    Bytes shortRead = MakeUpdater(update.entries);
    shortRead.resize(shortRead.size() - 1);
    EXPECT_EQ(kResultDamaged, RunFile(shortRead));
    ExpectUnchanged(before);

    RemoveTree(game + L"\\Archive");
    const Snapshot noArchive = TakeSnapshot(game);
    EXPECT_EQ(kResultInstallFailed, Run(update.entries));
    ExpectUnchanged(noArchive);
}

TEST_F(DriverTest, UnverifiedEntriesEmptyEntriesAndReadOnlyFiles)
{
    MakeInstallation(game, {"data01200.arc"});
    SetFileAttributesW((game + L"\\Archive\\data01200.arc").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(WriteText(game + L"\\Archive\\data01300.arc.tmp", "left by an earlier run"));
    SetFileAttributesW((game + L"\\Archive\\data01300.arc.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    SampleUpdate update = MakeSampleUpdate(2);
    update.entries.push_back({"ReadMe.txt", ToBytes("no record names me")});
    std::vector<VersionRecord> records = {{"Archive\\data01200.arc", ChecksumOf(update.entries[1].data)},
                                          {"Archive\\data01300.arc", ChecksumOf(update.entries[2].data)},
                                          {"Archive\\empty.arc", 0}};
    update.entries[0].data = MakeVersionList(records);
    update.entries.push_back({"empty.arc", {}});
    ASSERT_EQ(kResultSuccess, Run(update.entries));
    EXPECT_EQ(update.entries[1].data, ReadBytes(game + L"\\Archive\\data01200.arc"));
    EXPECT_EQ(update.entries[2].data, ReadBytes(game + L"\\Archive\\data01300.arc"));
    EXPECT_EQ(ToBytes("no record names me"), ReadBytes(game + L"\\ReadMe.txt"));
    EXPECT_TRUE(FileExists(game + L"\\Archive\\empty.arc"));
    EXPECT_FALSE(FileExists(game + L"\\Archive\\data01300.arc.tmp"));
    EXPECT_NE(std::string::npos, Uninst().find("\nreadme.txt\n"));

    // An empty entry whose record is not the checksum of no bytes is damage.
    records[2].value = 1;
    update.entries[0].data = MakeVersionList(records);
    EXPECT_EQ(kResultDamaged, Run(update.entries));
}

TEST_F(DriverTest, MissingListsAreNotCreatedMissingUninstallListIsReported)
{
    MakeInstallation(game, {"data01200.arc"});
    DeleteFileW((game + L"\\kpx.hvl").c_str());
    const SampleUpdate update = MakeSampleUpdate(2);
    EXPECT_EQ(kResultSuccess, Run(update.entries));
    EXPECT_FALSE(FileExists(game + L"\\kpx.hvl"));
    EXPECT_EQ(update.entries[2].data, ReadBytes(game + L"\\Archive\\data01300.arc"));

    MakeInstallation(game, {"data01200.arc"});
    DeleteFileW((game + L"\\uninst.lst").c_str());
    EXPECT_EQ(kResultUninstallListFailed, Run(MakeSampleUpdate(2, 3000, 99).entries));
    EXPECT_FALSE(FileExists(game + L"\\uninst.lst"));
    VersionListHeader header;
    std::vector<VersionRecord> records;
    ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
    EXPECT_EQ(2u, records.size());
    EXPECT_EQ(ChecksumOf(ReadBytes(game + L"\\Archive\\data01300.arc")), records[1].value);
}

TEST_F(DriverTest, PackageShapesCountsAndSizes)
{
    MakeInstallation(game, {"data01200.arc", "gone.arc"});
    DeleteFileW((game + L"\\Archive\\gone.arc").c_str());
    // Count 0: nothing copied; the version list loses the record of the missing file; success.
    EXPECT_EQ(kResultSuccess, Run({}));
    VersionListHeader header;
    std::vector<VersionRecord> records;
    ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
    EXPECT_EQ(1u, records.size());

    const Snapshot before = TakeSnapshot(game);
    EXPECT_EQ(kResultUnreadable, RunFile(Bytes(kPayloadOffset, 0)));
    EXPECT_EQ(kResultDamaged, RunFile(Bytes(kPayloadOffset - 1, 0)));
    EXPECT_EQ(kResultUnreadable, HoldAndRunUpdate(game.c_str(), (dir / L"missing.exe").c_str()));
    std::vector<FakeEntry> many;
    for (int i = 0; i < 257; ++i)
        many.push_back({"f" + std::to_string(i), ToBytes("x")});
    EXPECT_EQ(kResultDamaged, Run(many));
    ExpectUnchanged(before);
    many.pop_back();
    EXPECT_EQ(kResultSuccess, Run(many));
    EXPECT_TRUE(FileExists(game + L"\\f255"));
}

// A delta update of one archive decided by the bytes installed: patched from either base, copied whole,
// left as it is, finished from the original an interrupted run kept aside, or refused with the installation
// unchanged; a second run after success changes nothing.
TEST_F(DriverTest, DeltaUpdatesDecideByTheInstalledBytes)
{
    const Bytes v0 = RandomBytes(300000, 40), other = RandomBytes(300000, 41);
    Bytes v1 = v0, target = v0;
    v1.insert(v1.begin() + 1000, 5000, 'a');
    std::copy_n(RandomBytes(7000, 42).begin(), 7000, target.begin() + 150000);
    enum Stands { kTarget, kKept, kNothing };
    struct Case {
        const char* what;
        const Bytes* installed;
        Stands stands;
        bool full, damaged;
        uint32_t result;
    } cases[] = {
        {"the first base", &v1, kTarget, false, false, kResultSuccess},
        {"the second base", &v0, kTarget, false, false, kResultSuccess},
        {"the target already", &target, kTarget, false, false, kResultSuccess},
        {"no base, no whole file", &other, kTarget, false, false, kResultNotApplicable},
        {"no file, no whole file", &other, kNothing, false, false, kResultNotApplicable},
        {"no base, the whole file", &other, kTarget, true, false, kResultSuccess},
        {"a base, the whole file too", &v0, kTarget, true, false, kResultSuccess},
        {"the kept original alone", &v1, kKept, false, false, kResultSuccess},
        {"a damaged delta", &v1, kTarget, false, true, kResultDamaged},
        {"cancelled while patching", &v1, kTarget, false, false, kResultCancelled},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(game);
        MakeDir(game);
        MakeInstallation(game, {});
        const std::wstring file = game + L"\\Archive\\data.arc";
        if (c.stands != kNothing) {
            ASSERT_TRUE(WriteBytes(c.stands == kKept ? file + L".kept" : file, *c.installed));
        }
        ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", MakeVersionList({{"Archive\\data.arc", ChecksumOf(*c.installed)}})));
        std::vector<FakeEntry> entries = MakeDeltaEntries("data.arc", {v1, v0}, target, c.full);
        if (c.damaged)
            entries[1].data[entries[1].data.size() / 2] ^= 0x10;
        const Snapshot before = TakeSnapshot(game);
        shown = Shown();
        g_cancelRequested = 0;
        if (c.result == kResultCancelled)
            shown.onPosition = [](int id, WPARAM position) { g_cancelRequested |= id == IDC_ITEM_BAR && position > 0; };
        ASSERT_EQ(c.result, Run(entries));
        g_cancelRequested = 0;
        if (c.result != kResultSuccess) {
            ExpectUnchanged(before);
            continue;
        }
        EXPECT_TRUE(ReadBytes(file) == target);
        std::vector<VersionRecord> records;
        VersionListHeader header;
        ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(ChecksumOf(target), records[0].value);
        EXPECT_EQ((std::vector<std::wstring>{L"Archive\\data.arc", L"kpx.hvl", L"uninst.lst"}), ListFiles(game));
        EXPECT_NE(shown.status.end(), std::find(shown.status.begin(), shown.status.end(), L"Installing \"Archive\\data.arc\"."));
        // A patched target's item bar: its base's checksum fills the first half, the patch the second.
        const std::vector<WPARAM> bar = PositionsOf(IDC_ITEM_BAR);
        if (!c.full && c.installed != &target) {
            EXPECT_NE(bar.end(), std::find(bar.begin(), bar.end(), WPARAM{32767})) << c.what;
        }
        const Snapshot after = TakeSnapshot(game);
        EXPECT_EQ(kResultSuccess, Run(entries));
        ExpectUnchanged(after);
    }
}

TEST_F(DriverTest, DamagedPackagesAreRefusedBeforeTheFirstCopy)
{
    MakeInstallation(game, {"data01200.arc"});
    ASSERT_TRUE(WriteText(game + L"\\Archive\\data01200.arc.tmp", "left by an earlier run"));
    const Snapshot before = TakeSnapshot(game);
    const SampleUpdate update = MakeSampleUpdate(2);
    const Bytes one = ToBytes("one"), two = ToBytes("two");
    // A list of one record that claims two: the second would be read from the next entry's bytes.
    Bytes overlong = MakeVersionList({{"Archive\\data01200.arc", 1}});
    overlong[12] = 2;
    Bytes noNul = MakeVersionList({{"Archive\\data01200.arc", 1}});
    std::fill(noNul.begin() + 16, noNul.begin() + 16 + 248, 'n');
    // The 8.3 short names Windows gives existing files reach the same file as their long names.
    auto shortNameOf = [&](const wchar_t* name) {
        wchar_t shortFolder[MAX_PATH] = L"", shortPath[MAX_PATH] = L"";
        EXPECT_NE(0u, GetShortPathNameW(game.c_str(), shortFolder, MAX_PATH));
        EXPECT_NE(0u, GetShortPathNameW((game + L"\\" + name).c_str(), shortPath, MAX_PATH));
        std::string out;
        for (const wchar_t* p = shortPath + wcslen(shortFolder) + 1; *p; ++p)
            out += static_cast<char>(*p);
        EXPECT_TRUE(out.find("~") != std::string::npos && out.find("data01200") == std::string::npos) << out;
        return out;
    };
    const std::string shortName = shortNameOf(L"Archive\\data01200.arc");
    const std::string shortTemp = shortNameOf(L"Archive\\data01200.arc.tmp");
    const std::vector<std::pair<const char*, std::vector<FakeEntry>>> cases = {
        {"garbage list", {{"KPX.hvl", ToBytes("not a version list at all")}, update.entries[1]}},
        {"count past the entry", {{"KPX.hvl", overlong}, update.entries[1], update.entries[2]}},
        {"name without its NUL", {{"KPX.hvl", noNul}, update.entries[1]}},
        {"name that does not decode", {{"KPX.hvl", MakeVersionList({{"\x81\x20.arc", 1}})}, {"x.arc", one}}},
        {"record of no entry", {{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(one)},
                                                             {"Archive\\ghost.arc", 5}})},
                                {"data01200.arc", one}}},
        {"two separators", {{"Archive/x.arc", one}, {"Archive\\X.arc", two}}},
        {"short name", {{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(one)}})},
                        {"data01200.arc", one}, {shortName, two}}},
        {"short name of a temporary file", {{"Archive\\data01200.arc", one}, {shortTemp, two}}},
    };
    for (const auto& c : cases) {
        shown.status.clear();
        EXPECT_EQ(kResultDamaged, Run(c.second)) << c.first;
        ExpectUnchanged(before);
        EXPECT_TRUE(shown.status.empty()) << c.first << ": a damaged package showed an entry";
    }

    // Two lists: the first counts; neither is installed as a file.
    std::vector<FakeEntry> doubled = update.entries;
    doubled.push_back({"kpx.HVL", MakeVersionList({{"Archive\\data01200.arc", 1}})});
    EXPECT_EQ(kResultSuccess, Run(doubled));
    EXPECT_EQ(update.entries[1].data, ReadBytes(game + L"\\Archive\\data01200.arc"));
    for (const std::wstring& f : ListFiles(game))
        EXPECT_NE(0, _wcsicmp(f.c_str(), L"kpx.hvl.tmp")) << f;
    // A "/" in a target installs below the folder it names.
    EXPECT_EQ(kResultSuccess, Run({{"Archive/y.arc", one}}));
    EXPECT_EQ(one, ReadBytes(game + L"\\Archive\\y.arc"));
}

// `content` as one zstd frame, as the builder stores it.
Bytes FrameOf(const Bytes& content, int level = 3)
{
    Bytes frame;
    size_t at = 0;
    bool abandoned = false;
    EXPECT_TRUE(WriteZstdFrame(
        [&](unsigned char* bytes, uint32_t n) {
            std::copy_n(content.begin() + static_cast<std::ptrdiff_t>(at), n, bytes);
            at += n;
            return true;
        },
        content.size(), level, [&](const unsigned char* bytes, size_t n) { return frame.insert(frame.end(), bytes, bytes + n), true; },
        0, abandoned));
    return frame;
}

// `entries` with the entry `name` stored as a zstd frame, named by a compression table.
std::vector<FakeEntry> Compressed(std::vector<FakeEntry> entries, const std::string& name)
{
    std::vector<CompressionRecord> records;
    for (FakeEntry& e : entries)
        if (e.name == name) {
            const Bytes frame = FrameOf(e.data);
            records.push_back({name, EntryForm::Zstd, frame.size(), e.data.size(), ChecksumOf(frame), ChecksumOf(e.data)});
            e.data = frame;
        }
    Bytes table;
    EXPECT_TRUE(EncodeCompressionTable(records, table));
    entries.push_back({"KPX.cmp", table});
    return entries;
}

TEST_F(DriverTest, CompressedEntriesInstallTheirContentAndDamagedFramesChangeNothing)
{
    std::string script;
    for (int line = 0; script.size() < 2 * kCopyChunk + 300000; ++line)
        script += "scene " + std::to_string(line % 53) + ": the heroine's line, said again\r\n";
    const Bytes text(script.begin(), script.end()), other = RandomBytes(text.size(), 5);
    const Bytes frame = FrameOf(text), otherFrame = FrameOf(other);
    ASSERT_LT(frame.size() * 10, text.size());
    const CompressionRecord sound{"data01200.arc", EntryForm::Zstd, frame.size(), text.size(), ChecksumOf(frame),
                                  ChecksumOf(text)};
    // The version list, the entry's stored bytes and the compression table of `record`.
    auto packageOf = [&](const Bytes& stored, CompressionRecord record) {
        Bytes table;
        EXPECT_TRUE(EncodeCompressionTable({record}, table));
        return std::vector<FakeEntry>{{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(text)}})},
                                      {"data01200.arc", stored}, {"KPX.cmp", table}};
    };
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    Bytes flipped = frame, unchecked = frame, trailing = frame;
    flipped[frame.size() / 2] ^= 0x10;
    unchecked[frame.size() / 2] ^= 0x10;
    trailing.push_back(0);
    auto with = [&](uint64_t CompressionRecord::*field, uint64_t value, const Bytes& stored) {
        CompressionRecord r = sound;
        r.*field = value;
        if (field != &CompressionRecord::storedChecksum && field != &CompressionRecord::storedSize) {
            r.storedSize = stored.size();
            r.storedChecksum = ChecksumOf(stored);
        }
        return packageOf(stored, r);
    };
    const Bytes cut(frame.begin(), frame.end() - 7);
    const std::vector<std::pair<const char*, std::vector<FakeEntry>>> cases = {
        {"a flipped frame byte, stored checksum matching", with(&CompressionRecord::contentSize, text.size(), flipped)},
        {"a flipped frame byte", with(&CompressionRecord::storedChecksum, ChecksumOf(frame), unchecked)},
        {"a sound frame, another stored checksum", with(&CompressionRecord::storedChecksum, ChecksumOf(other), frame)},
        {"content size one more", with(&CompressionRecord::contentSize, text.size() + 1, frame)},
        {"content size one less", with(&CompressionRecord::contentSize, text.size() - 1, frame)},
        {"a byte behind the frame", with(&CompressionRecord::contentSize, text.size(), trailing)},
        {"the frame cut short", with(&CompressionRecord::contentSize, text.size(), cut)},
        {"another file's frame", with(&CompressionRecord::contentSize, other.size(), otherFrame)},
        {"stored size not the entry's", with(&CompressionRecord::storedSize, frame.size() + 1, frame)},
        {"content checksum not the record's", with(&CompressionRecord::contentChecksum, ChecksumOf(other), frame)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(kResultDamaged, Run(c.second)) << c.first;
        ExpectUnchanged(before);
    }
    // The table may name only a file or a delta, once.
    Bytes twice;
    ASSERT_TRUE(EncodeCompressionTable({sound, sound}, twice));
    EXPECT_EQ(kResultDamaged, Run({{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(text)}})},
                                   {"data01200.arc", frame}, {"KPX.cmp", twice}}));
    ExpectUnchanged(before);

    // The sound one installs the content, the item bar counting content bytes up to its end.
    shown.positions.clear();
    EXPECT_EQ(kResultSuccess, Run(packageOf(frame, sound)));
    EXPECT_EQ(text, ReadBytes(game + L"\\Archive\\data01200.arc"));
    const std::vector<WPARAM> item = PositionsOf(IDC_ITEM_BAR);
    ASSERT_FALSE(item.empty());
    EXPECT_EQ(65535u, *std::max_element(item.begin(), item.end()));
    // ...after the first chunk of content, not of stored bytes (the whole frame is smaller than a chunk).
    const WPARAM firstChunk = static_cast<WPARAM>(static_cast<uint64_t>(kCopyChunk) * 65535 / text.size());
    EXPECT_TRUE(std::find(item.begin(), item.end(), firstChunk) != item.end()) << firstChunk;
}

TEST_F(DriverTest, InstalledNamesWithoutAShiftJisFormSurviveTheUpdate)
{
    MakeInstallation(game, {"data01200.arc"});
    ASSERT_TRUE(WriteText(game + L"\\Archive\\caf\u00E9.arc", "a player's mod"));
    ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", MakeVersionList({{"Archive\\caf\xC3\xA9.arc", 9},
                                                                   {"Archive\\data01200.arc", 1}})));
    const SampleUpdate update = MakeSampleUpdate(1);
    ASSERT_EQ(kResultSuccess, Run(update.entries));
    const Bytes list = ReadBytes(game + L"\\kpx.hvl");
    ASSERT_EQ(16u + 2 * 256, list.size());
    EXPECT_EQ(0, memcmp(list.data() + 16, "Archive\\caf\xC3\xA9.arc\0", 18));
    VersionListHeader header;
    std::vector<VersionRecord> records;
    ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
    EXPECT_EQ(9u, records[0].value);
    EXPECT_EQ(ChecksumOf(update.entries[1].data), records[1].value);
}

TEST_F(DriverTest, ItemBarFollowsEachMegabyteChunk)
{
    MakeInstallation(game, {});
    Bytes big = RandomBytes(3 * 1024 * 1024 + 1, 5);
    ASSERT_EQ(kResultSuccess,
              Run({{"KPX.hvl", MakeVersionList({{"Archive\\big.arc", ChecksumOf(big)}})}, {"big.arc", big}}));
    EXPECT_EQ((std::vector<WPARAM>{0, 0, 0, 21844, 43689, 65534, 65535}), PositionsOf(IDC_ITEM_BAR));
    EXPECT_EQ((std::vector<WPARAM>{0, 1, 2}), PositionsOf(IDC_TOTAL_BAR));
}

// While the paints are held the bars take a position a visible step (1/256 of the range) from the last,
// their start and their end; the status line and the entries bar paint at once, the item bar at most once a
// frame; every control stays visible; an uncovered dialog paints them all; Release gives each bar its last
// position and paints what waited.
TEST_F(DriverTest, ProgressViewSendsVisibleStepsAndPaintsTheItemBarOncePerFrame)
{
    ProgressView view;
    OpenProgressView(view, g_hProgressDlg, 1000);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))  // the dialog's first paint, as the driver's first pump
        DispatchMessageW(&msg);
    HoldProgressPaints(view);
    shown.positions.clear();
    shown.paints.clear();
    for (uint32_t p : {100u, 255u, 256u, 300u, 600u, 65534u, 65535u, 0u, 10u})
        MoveBar(view, kItemBar, p);
    for (uint32_t p = 1; p <= 9; ++p)
        MoveBar(view, kEntriesBar, p);
    ShowStatusText(view, L"Installing \"a\".");
    EXPECT_EQ((std::vector<WPARAM>{256, 600, 65534, 65535, 0}), PositionsOf(IDC_ITEM_BAR));
    EXPECT_EQ((std::vector<WPARAM>{4, 8}), PositionsOf(IDC_TOTAL_BAR));
    EXPECT_EQ(2, shown.paints[IDC_TOTAL_BAR]);
    EXPECT_FALSE(GetUpdateRect(GetDlgItem(g_hProgressDlg, IDC_STATUS_LINE), nullptr, FALSE));  // nothing waits
    EXPECT_GE(shown.paints[IDC_ITEM_BAR], 1);  // the first position paints at once
    for (int id : {IDC_STATUS_LINE, IDC_ITEM_BAR, IDC_TOTAL_BAR})
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(g_hProgressDlg, id))) << id;

    // Two positions within a frame of the last paint give no paint; the next frame gives one.
    bool seen = false;
    for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
        for (const ULONGLONG deadline = GetTickCount64() + 1000; view.unpainted && GetTickCount64() < deadline;)
            PaintIfDue(view);
        ASSERT_FALSE(view.unpainted);
        const int painted = shown.paints[IDC_ITEM_BAR];
        const ULONGLONG lastPaint = view.paintedAt;
        MoveBar(view, kItemBar, 10000 + attempt * 1000);
        MoveBar(view, kItemBar, 20000 + attempt * 1000);
        if (GetTickCount64() - lastPaint >= 16)
            continue;  // the machine stalled past the frame (a move may have painted): no conclusion, try again
        seen = true;
        EXPECT_EQ(painted, shown.paints[IDC_ITEM_BAR]);
        for (const ULONGLONG deadline = GetTickCount64() + 1000;
             shown.paints[IDC_ITEM_BAR] == painted && GetTickCount64() < deadline;)
            PaintIfDue(view);
        PaintIfDue(view);  // within the new frame: nothing more
        EXPECT_EQ(painted + 1, shown.paints[IDC_ITEM_BAR]);
        EXPECT_EQ(20000u + attempt * 1000, SendMessageW(GetDlgItem(g_hProgressDlg, IDC_ITEM_BAR), PBM_GETPOS, 0, 0));
    }
    EXPECT_TRUE(seen) << "no two positions fell within one frame in five tries";

    // Something uncovers the dialog: every control paints again, the item bar too.
    MoveBar(view, kItemBar, 10);
    const std::map<int, int> before = shown.paints;
    RedrawWindow(g_hProgressDlg, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    for (int id : {IDC_STATUS_LINE, IDC_ITEM_BAR, IDC_TOTAL_BAR})
        EXPECT_EQ((before.count(id) ? before.at(id) : 0) + 1, shown.paints[id]) << id;
    MoveBar(view, kEntriesBar, 9);
    ReleaseProgressPaints(view);
    EXPECT_EQ(10u, PositionsOf(IDC_ITEM_BAR).back());
    EXPECT_EQ(9u, PositionsOf(IDC_TOTAL_BAR).back());
    EXPECT_EQ(10u, SendMessageW(GetDlgItem(g_hProgressDlg, IDC_ITEM_BAR), PBM_GETPOS, 0, 0));
}

TEST_F(DriverTest, CloseBeforeTheCopyAborts)
{
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    const SampleUpdate update = MakeSampleUpdate(3, 2 * 1024 * 1024);
    HWND dialog = g_hProgressDlg;

    // Closed before the copy: the preparation's pump sees it.
    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(kResultAborted, Run(update.entries));
    ExpectUnchanged(before);
    EXPECT_EQ(1u, PositionsOf(IDC_TOTAL_BAR).size());  // only the preparation's 0
}

TEST_F(DriverTest, CancelConfirmedMidEntryEndsWithCancelled)
{
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    const SampleUpdate update = MakeSampleUpdate(3, 2 * 1024 * 1024);
    HWND dialog = g_hProgressDlg;
    Thread answerer;
    bool clicked = false;
    // After the first chunk of the third archive, the user clicks Cancel and answers Yes.
    shown.onPosition = [&](int id, WPARAM pos) {
        if (id == IDC_ITEM_BAR && pos > 0 && PositionsOf(IDC_TOTAL_BAR).back() == 3 && !clicked) {
            clicked = true;
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED), 0);
            answerer.Start([dialog] {
                if (HWND box = WaitForDialogWindow(GetCurrentProcessId(), dialog, 5000))
                    PressButton(box, IDYES);
            });
        }
    };
    EXPECT_EQ(kResultCancelled, Run(update.entries));
    answerer.Join();
    ExpectUnchanged(before);
    EXPECT_EQ(3u, PositionsOf(IDC_TOTAL_BAR).back());  // the third archive never completed
}

TEST_F(DriverTest, CloseDuringTheLastPumpStillStopsBeforeInstalling)
{
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    HWND dialog = g_hProgressDlg;
    shown.onPosition = [&](int id, WPARAM pos) {
        if (id == IDC_TOTAL_BAR && pos == 3)
            PostMessageW(dialog, WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(kResultAborted, Run(MakeSampleUpdate(2).entries));
    ExpectUnchanged(before);
    EXPECT_EQ(nullptr, g_hProgressDlg);
}

TEST_F(DriverTest, CancelOutranksCloseAndQuitAborts)
{
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    const SampleUpdate update = MakeSampleUpdate(2);
    shown.onPosition = [&](int id, WPARAM pos) {
        if (id == IDC_TOTAL_BAR && pos == 1) {
            g_cancelRequested = 1;
            PostMessageW(g_hProgressDlg, WM_CLOSE, 0, 0);
        }
    };
    EXPECT_EQ(kResultCancelled, Run(update.entries));
    ExpectUnchanged(before);
    EXPECT_EQ(1, g_abortRequested);

    // A quit posted to the thread mid-copy aborts, with no dialog left to pump for.
    g_cancelRequested = g_abortRequested = 0;
    shown.onPosition = nullptr;
    ASSERT_TRUE(WriteBytes(package, MakeUpdater(update.entries)));
    PostQuitMessage(0);
    EXPECT_EQ(kResultAborted, HoldAndRunUpdate(game.c_str(), package.c_str()));
    ExpectUnchanged(before);
}

TEST_F(DriverTest, HeldTargetRollsTheInstallBackToWhatItFound)
{
    // data01200.arc is new to this installation and moves in first; data01300.arc is replaced; the held
    // data01400.arc fails the third move. The run takes the new file out and puts the replaced one back.
    MakeInstallation(game, {"data01300.arc", "data01400.arc"});
    const std::wstring readOnly = game + L"\\Archive\\data01300.arc";
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    const Snapshot before = TakeSnapshot(game);
    UniqueHandle held = HoldAsTheGame(game + L"\\Archive\\data01400.arc");
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(kResultInstallFailed, Run(MakeSampleUpdate(3).entries));
    held.Reset(nullptr);
    EXPECT_EQ(before, TakeSnapshot(game));  // no new, temporary or kept-aside file either
    EXPECT_NE(0u, GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);  // put back as it was
}

TEST_F(DriverTest, HostileAndOverlongTargetsAreRefusedBeforeAnythingIsWritten)
{
    MakeDir(game + L"\\inner");
    const std::wstring inner = game + L"\\inner";
    MakeInstallation(inner, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    for (const std::string& name : kHostileNames) {
        // As an entry's own name, and as the path of the version record that the entry matches.
        ASSERT_TRUE(WriteBytes(package, MakeUpdater({{"ok.arc", ToBytes("fine")}, {name, ToBytes("evil")}})));
        EXPECT_EQ(kResultDamaged, HoldAndRunUpdate(inner.c_str(), package.c_str())) << name;
        Bytes evil = ToBytes("evil");
        ASSERT_TRUE(WriteBytes(package, MakeUpdater({{"KPX.hvl", MakeVersionList({{name, ChecksumOf(evil)}})},
                                                     {HostileFileName(name), evil}})));
        EXPECT_EQ(kResultDamaged, HoldAndRunUpdate(inner.c_str(), package.c_str())) << name;
        ExpectUnchanged(before);
        EXPECT_FALSE(FileExists(dir / L"x.arc"));
        EXPECT_FALSE(FileExists(L"C:\\x.arc"));
    }
    // A path that does not fit the path buffer ends with "installation failed" before anything is written.
    const std::wstring longFolder = inner + L"\\" + std::wstring(700, L'f');
    ASSERT_TRUE(WriteBytes(package, MakeUpdater({{"a.arc", ToBytes("a")}})));
    EXPECT_EQ(kResultInstallFailed, HoldAndRunUpdate(longFolder.c_str(), package.c_str()));
    ExpectUnchanged(before);
}

TEST_F(DriverTest, TwoEntriesForOneFileAreDamageNotAHalfInstall)
{
    MakeInstallation(game, {"data01200.arc"});
    const Snapshot before = TakeSnapshot(game);
    // Both entries find the same record; the second move would fail after the first replaced the file.
    const Bytes one = ToBytes("one"), two = ToBytes("two");
    EXPECT_EQ(kResultDamaged, Run({{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(one)}})},
                                   {"data01200.arc", one},
                                   {"DATA01200.ARC", one}}));
    ExpectUnchanged(before);
    EXPECT_EQ(kResultDamaged, Run({{"a.arc", one}, {"A.arc", two}}));
    ExpectUnchanged(before);
    // One entry's target is the other's temporary file: the moves would swap their bytes.
    EXPECT_EQ(kResultDamaged, Run({{"a.arc.tmp", one}, {"a.arc", two}}));
    ExpectUnchanged(before);
    EXPECT_EQ(kResultDamaged, Run({{"a.arc", one}, {"A.ARC.TMP", two}}));
    ExpectUnchanged(before);
}

TEST_F(DriverTest, HardLinkedReadOnlyOriginalIsReplacedAndItsOtherNameKeepsBytesAndAttributes)
{
    // "data01300.arc" is a second name of a read-only file outside the installation.
    MakeInstallation(game, {"data01300.arc"});
    const std::wstring target = game + L"\\Archive\\data01300.arc", outside = dir / L"outside.arc";
    const Bytes outsideBytes = ToBytes("a file of someone else's");
    ASSERT_TRUE(WriteBytes(outside, outsideBytes));
    ASSERT_TRUE(DeleteFileW(target.c_str()));
    ASSERT_TRUE(CreateHardLinkW(target.c_str(), outside.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_READONLY));
    const SampleUpdate update = MakeSampleUpdate(3);
    EXPECT_EQ(kResultSuccess, Run(update.entries));
    EXPECT_EQ(update.entries[2].data, ReadBytes(target));
    EXPECT_EQ(outsideBytes, ReadBytes(outside));
    EXPECT_NE(0u, GetFileAttributesW(outside.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(FileExists(target + L".kept"));
    SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(DriverTest, StaleKeptFileIsNeverPutBack)
{
    // A run that installed version 2 could not delete "data01200.arc.kept" (version 1). The next update fails
    // on a held archive: what it puts back is version 2, which the version list records, never version 1.
    MakeInstallation(game, {"data01200.arc", "data01300.arc"});
    const std::wstring target = game + L"\\Archive\\data01200.arc";
    ASSERT_TRUE(WriteBytes(target + L".kept", ToBytes("version 1, left behind")));
    const Snapshot version2 = TakeSnapshot(game);
    UniqueHandle held = HoldAsTheGame(game + L"\\Archive\\data01300.arc");
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(kResultInstallFailed, Run(MakeSampleUpdate(2).entries));
    held.Reset(nullptr);
    Snapshot now = TakeSnapshot(game);
    EXPECT_EQ(version2.at(L"Archive\\data01200.arc"), now[L"Archive\\data01200.arc"]);
    EXPECT_EQ(version2.at(L"kpx.hvl"), now[L"kpx.hvl"]);
    EXPECT_EQ(0u, now.count(L"Archive\\data01200.arc.kept"));  // a leftover, removed
}

TEST_F(DriverTest, DeltaRunsKeepTheirPromisesInOrdinaryStates)
{
    // "a.arc" ships as a delta alone, "b.arc" whole; "c.arc" is the installation's own, no target.
    const Bytes v1 = RandomBytes(200000, 50), other = RandomBytes(200000, 51), c1 = ToBytes("c, version 1");
    Bytes target = v1;
    std::copy_n(RandomBytes(5000, 52).begin(), 5000, target.begin() + 70000);
    const Bytes b = RandomBytes(300000, 53);
    std::vector<FakeEntry> entries = MakeDeltaEntries({{"a.arc", {v1}, target, false}, {"b.arc", {}, b, true}});
    const std::wstring a = game + L"\\Archive\\a.arc", bFile = game + L"\\Archive\\b.arc", c = game + L"\\Archive\\c.arc";
    UniqueHandle held;         // a file another program holds through the run
    int writesLetThrough = 0;  // writes to a decided file that another program could open during the run
    const auto recordA = [&](const Bytes& as) {
        ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl",
                               MakeVersionList({{"Archive\\a.arc", ChecksumOf(as)}, {"Archive\\c.arc", ChecksumOf(c1)}})));
    };
    struct Case {
        const char* what;
        std::function<void()> setUp;  // beside a.arc = v1, c.arc = c1, the list recording both
        uint32_t result;
        std::function<void()> check;
    } cases[] = {
        {"the kept original patched from, another target held: the original survives the rollback",
         [&] {
             // No record of the original: only its bytes say what it is.
             MoveFileW(a.c_str(), (a + L".kept").c_str());
             recordA(other);
             ASSERT_TRUE(WriteBytes(bFile, ToBytes("old b")));
             held = HoldAsTheGame(bFile);
         },
         kResultInstallFailed,
         [&] { EXPECT_TRUE(ReadBytes(a) == v1 || ReadBytes(a + L".kept") == v1); }},
        {"a base another program holds without sharing is a file that cannot be read, not another version",
         [&] { held.Reset(CreateFileW(a.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)); },
         kResultInstallFailed,
         [&] { EXPECT_TRUE(ReadBytes(a) == v1); }},
        {"a leftover of another package's interrupted run: the original goes back, the rest goes",
         [&] {
             ASSERT_TRUE(WriteBytes(c + L".kept", c1));
             ASSERT_TRUE(WriteBytes(c, ToBytes("c, version 2, half installed")));
             ASSERT_TRUE(WriteBytes(c + L".tmp", ToBytes("c, a torn copy")));
         },
         kResultSuccess,
         [&] {
             EXPECT_TRUE(ReadBytes(c) == c1);
             EXPECT_FALSE(FileExists(c + L".kept") || FileExists(c + L".tmp"));
         }},
        {"an identical target stays held: no other program replaces it while the rest copies",
         [&] {
             ASSERT_TRUE(WriteBytes(a, target));
             // Every item bar position past 0 comes after the target was judged: while it is read, and
             // while b.arc copies.
             shown.onPosition = [&](int id, WPARAM position) {
                 if (id != IDC_ITEM_BAR || position == 0)
                     return;
                 UniqueHandle w(CreateFileW(a.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
                 writesLetThrough += w.IsValid() ? 1 : 0;
             };
         },
         kResultSuccess, [&] { EXPECT_EQ(0, writesLetThrough); }},
        {"a damaged delta this installation does not need is damage all the same",
         [&] {
             ASSERT_TRUE(WriteBytes(a, target));
             entries[1].data[entries[1].data.size() / 2] ^= 0x10;
         },
         kResultDamaged, [] {}},
        {"a target that is a link to another target is no base: not applicable, nothing replaced",
         [&] {
             DeleteFileW(a.c_str());
             ASSERT_TRUE(WriteBytes(bFile, v1));
             ASSERT_TRUE(PlantLink(a, bFile));
         },
         kResultNotApplicable, [&] { EXPECT_TRUE(ReadBytes(bFile) == v1); }},
        {"a refused run whose list cannot record the original it would put back leaves it aside",
         [&] {
             // Nothing at the name: the kept file is the original, of another version, and "kpx.hvl" records v1.
             DeleteFileW(a.c_str());
             ASSERT_TRUE(WriteBytes(a + L".kept", other));
             SetFileAttributesW((game + L"\\kpx.hvl").c_str(), FILE_ATTRIBUTE_READONLY);
         },
         kResultNotApplicable, [&] { EXPECT_TRUE(ReadBytes(a + L".kept") == other && !FileExists(a)); }},
    };
    const std::vector<FakeEntry> sound = entries;
    for (Case& k : cases) {
        SCOPED_TRACE(k.what);
        RemoveTree(game);
        MakeDir(game);
        MakeInstallation(game, {});
        ASSERT_TRUE(WriteBytes(a, v1));
        ASSERT_TRUE(WriteBytes(c, c1));
        recordA(v1);
        entries = sound;
        shown = Shown();
        writesLetThrough = 0;
        k.setUp();
        const Snapshot before = TakeSnapshot(game);
        EXPECT_EQ(k.result, Run(entries));
        held.Reset(nullptr);
        shown.onPosition = nullptr;
        k.check();
        if (k.result == kResultSuccess) {
            // What the version list records is what stands on the disk.
            std::vector<VersionRecord> records;
            VersionListHeader header;
            ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
            for (const VersionRecord& r : records)
                EXPECT_EQ(ChecksumOf(ReadBytes(game + L"\\" + std::wstring(r.name.begin(), r.name.end()))), r.value) << r.name;
            for (const std::wstring& f : ListFiles(game + L"\\Archive"))
                EXPECT_TRUE(f.find(L".kept") == std::wstring::npos && f.find(L".tmp") == std::wstring::npos) << Narrow(f);
        } else if (k.result != kResultInstallFailed) {
            ExpectUnchanged(before);
        }
        RemoveLink(a);
    }
}

TEST_F(DriverTest, TheVersionListAloneNeverRefusesADeltaUpdate)
{
    // "kpx.hvl" records another version for a target shipped as a delta alone (what a run leaves whose lists
    // could not be rewritten): the player is told early only when the bytes agree.
    const Bytes v1 = RandomBytes(100000, 60), other = RandomBytes(100000, 61);
    Bytes target = v1;
    std::copy_n(RandomBytes(3000, 62).begin(), 3000, target.begin() + 5000);
    // The same with the delta stored compressed: its frame is read for the early word too.
    const std::vector<FakeEntry> stored = MakeDeltaEntries("a.arc", {v1}, target, false);
    for (const bool compressed : {false, true}) {
        ASSERT_TRUE(WriteBytes(package, MakeUpdater(compressed ? Compressed(stored, "KPX.dlt.000") : stored)));
        for (const Bytes* installed : {&v1, &other}) {
            RemoveTree(game);
            MakeDir(game);
            MakeInstallation(game, {});
            ASSERT_TRUE(WriteBytes(game + L"\\Archive\\a.arc", *installed));
            ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", MakeVersionList({{"Archive\\a.arc", ChecksumOf(RandomBytes(10, 63))}})));
            HeldInstallation held;
            HoldInstallationFor(game.c_str(), package.c_str(), held);
            EXPECT_EQ(installed == &other, held.doesNotApply) << compressed;
            EXPECT_EQ(installed == &v1 ? kResultSuccess : kResultNotApplicable, RunUpdate(held, package.c_str())) << compressed;
            EXPECT_EQ(installed == &v1 ? target : other, ReadBytes(game + L"\\Archive\\a.arc")) << compressed;
        }
    }
}

TEST_F(DriverTest, ALinkToAnotherTargetIsReplacedByTheWholeFileWhileThatTargetIsPatched)
{
    // "a.arc" is a link to "b.arc", which the run patches and so holds: the link is no file of a.arc's own,
    // the whole file replaces it as itself, and b.arc is patched.
    const Bytes a1 = RandomBytes(100000, 70), b0 = RandomBytes(100000, 71);
    Bytes aNew = a1, bNew = b0;
    std::copy_n(RandomBytes(2000, 72).begin(), 2000, aNew.begin() + 1000);
    std::copy_n(RandomBytes(2000, 73).begin(), 2000, bNew.begin() + 9000);
    MakeInstallation(game, {});
    const std::wstring a = game + L"\\Archive\\a.arc", b = game + L"\\Archive\\b.arc";
    ASSERT_TRUE(WriteBytes(b, b0));
    ASSERT_TRUE(PlantLink(a, b));
    ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", MakeVersionList({{"Archive\\b.arc", ChecksumOf(b0)}})));
    EXPECT_EQ(kResultSuccess, Run(MakeDeltaEntries({{"a.arc", {a1}, aNew, true}, {"b.arc", {b0}, bNew, false}})));
    EXPECT_TRUE(ReadBytes(b) == bNew);
    EXPECT_TRUE(ReadBytes(a) == aNew);
    RemoveLink(a);
}
