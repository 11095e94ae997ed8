// The whole updater, made with the package builder and run as its own process, driven like a user.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>

#include "tests/package_factory.h"
#include "tests/user_session.h"
#include "tools/package_builder.h"
#include "tools/update_plan.h"
#include "update/package/package_layout.h"
#include "util/base/path_capacity.h"
#include "util/base/handles_win.h"

namespace {

const wchar_t kTitle[] = L"\u300C\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066\u300D Updater ver 1.01";
const char kTitleUtf8[] = "\xE3\x80\x8C\xE7\xA1\x9D\xE5\xAD\x90\xE3\x81\xAE\xE7\xBE\xBD\xE3\x82\x92\xE6\x95\xB0\xE3"
                          "\x81\x88\xE3\x81\xA6\xE3\x80\x8D Updater ver 1.01";
const DWORD kDamaged = 0x80000001, kInstallFailed = 0x80000004, kListFailed = 0x80000005, kDoesNotApply = 0x80000008;

class EndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = dir / L"game";
        MakeDir(game);
        MakeInstallation(game, {"data01200.arc", "data01300.arc"});
        ASSERT_TRUE(RegisterInstallation(game));
        MakeDir(dir / L"ship");
        MakeDir(dir / L"ship\\Archive");
    }
    void TearDown() override { ForgetInstallation(); }

    // Ships `count` archives of `size` bytes each and makes the updater; with `compress`, archives of a few
    // symbols, stored as zstd frames.
    std::wstring MakeUpdaterFile(int count = 3, size_t size = 5000, bool compress = false)
    {
        for (int i = 0; i < count; ++i) {
            Bytes bytes = RandomBytes(size, 40 + i);
            for (size_t at = 0; compress && at < size; ++at)
                bytes[at] = "scene, line, choice "[bytes[at] % 20];
            WriteBytes(dir / (L"ship\\Archive\\data0" + std::to_wstring(12 + i) + L"00.arc"), bytes);
        }
        BuildOptions options;
        options.compress = compress;
        options.level = 1;
        options.image = FromUnixPath(UPDATER_EXE);
        options.title = kTitleUtf8;
        options.output = dir / L"update.exe";
        std::string error;
        EXPECT_TRUE(CollectFolder(dir / L"ship", options.files, error));
        EXPECT_TRUE(BuildUpdater(options, error)) << error;
        return options.output;
    }
    Transcript Run(const std::wstring& updater, int confirm = IDYES,
                   UserScript::Action action = UserScript::None, int atStatus = 1)
    {
        UserScript script;
        script.updater = updater;
        script.confirmAnswer = confirm;
        script.action = action;
        script.atStatus = atStatus;
        // What `mkupdate plan` predicts for this installation must be what the run then leaves there.
        UpdatePlan& plan = lastPlan;
        std::string problem;
        const bool predicting = confirm == IDYES && action == UserScript::None;
        const int planned = lastPlanned = predicting ? PlanUpdate(updater, game, plan, problem) : -1;
        EXPECT_NE(2, planned) << "plan could not read its input: " << problem;
        Transcript t = RunAsUser(script);
        EXPECT_TRUE(t.finished) << Describe(t);
        if (planned == 1) {
            EXPECT_NE(0u, t.exitCode) << "plan refused: " << problem;
        }
        if (planned == 0 && (t.exitCode == 0 || t.exitCode == kListFailed))
            ExpectPlanCameTrue(plan, t);
        return t;
    }
    void ExpectPlanCameTrue(const UpdatePlan& plan, const Transcript& t)
    {
        EXPECT_EQ(plan.result, t.exitCode);
        for (const PlannedTarget& target : plan.targets) {
            std::wstring wide(target.target.size(), L'\0');
            wide.resize(MultiByteToWideChar(CP_UTF8, 0, target.target.c_str(), -1, &wide[0], static_cast<int>(wide.size()) + 1) - 1);
            EXPECT_EQ(target.newChecksum, ChecksumOf(ReadBytes(game + L"\\" + wide))) << target.target;
        }
        if (plan.versionList.outcome == VersionListOutcome::Updated) {
            EXPECT_EQ(Bytes(plan.versionList.bytes.begin(), plan.versionList.bytes.end()), ReadBytes(game + L"\\kpx.hvl"));
        }
        if (plan.uninstallListUpdated) {
            EXPECT_EQ(ToBytes(plan.uninstallList), ReadBytes(game + L"\\uninst.lst"));
        }
    }
    // An earlier version's archives, installed in the game and kept in "base" for the builder, and a delta
    // updater from them to the shipped ones: a few inner files of each changed.
    std::wstring MakeDeltaUpdaterFile()
    {
        MakeDir(dir / L"base");
        MakeDir(dir / L"base\\Archive");
        std::vector<VersionRecord> records;
        for (int i = 0; i < 2; ++i) {
            const std::wstring name = L"Archive\\data0" + std::to_wstring(12 + i) + L"00.arc";
            Bytes base = RandomBytes(300000, 60 + i), shipped = base;
            std::fill_n(shipped.begin() + 100000, 2000, static_cast<uint8_t>(i));
            WriteBytes(dir / (L"base\\" + name), base);
            WriteBytes(game + L"\\" + name, base);
            WriteBytes(dir / (L"ship\\" + name), shipped);
            records.push_back({"Archive\\data0" + std::to_string(12 + i) + "00.arc", ChecksumOf(base)});
        }
        WriteBytes(game + L"\\kpx.hvl", MakeVersionList(records));
        BuildOptions options;
        options.image = FromUnixPath(UPDATER_EXE);
        options.title = kTitleUtf8;
        options.output = dir / L"delta.exe";
        options.bases = {dir / L"base"};
        std::string error;
        EXPECT_TRUE(CollectFolder(dir / L"ship", options.files, error));
        EXPECT_TRUE(BuildUpdater(options, error)) << error;
        return options.output;
    }
    // An installation the delta updater has no base for: told before the question when its version list
    // shows it, after when only its bytes do; nothing changes either way.
    void ExpectDeltaRefusals(const std::wstring& updater, const std::wstring& message)
    {
        const std::wstring archive = game + L"\\Archive\\data01200.arc";
        const Bytes other = RandomBytes(300000, 99), list = ReadBytes(game + L"\\kpx.hvl");
        ASSERT_TRUE(WriteBytes(archive, other));
        for (const bool listTells : {true, false}) {
            if (listTells)
                ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(other)}})));
            else
                ASSERT_TRUE(WriteBytes(game + L"\\kpx.hvl", list));
            const std::vector<std::wstring> before = ListFiles(game);
            const Bytes listBefore = ReadBytes(game + L"\\kpx.hvl");
            UpdatePlan plan;
            std::string problem;
            ASSERT_EQ(0, PlanUpdate(updater, game, plan, problem)) << problem;
            EXPECT_EQ(kDoesNotApply, plan.result);
            const Transcript t = Run(updater);
            EXPECT_EQ(kDoesNotApply, t.exitCode) << Describe(t);
            ASSERT_EQ(listTells ? 1u : 2u, t.boxes.size()) << Describe(t);
            const BoxInfo& box = t.boxes.back().info;
            EXPECT_EQ(message, box.text);
            EXPECT_EQ(kTitle, box.caption);
            EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
            EXPECT_FALSE(t.boxes.back().dialogPresent);
            EXPECT_EQ(other, ReadBytes(archive));
            EXPECT_EQ(listBefore, ReadBytes(game + L"\\kpx.hvl"));
            EXPECT_EQ(before, ListFiles(game));
        }
    }
    TempDir dir;
    std::wstring game;
    UpdatePlan lastPlan;   // what plan predicted for the last Run...
    int lastPlanned = -1;  // ...and its exit code (-1: it was not asked)
};

void ExpectConfirmation(const Transcript& t, const std::wstring& text = L"Install the update?")
{
    ASSERT_GE(t.boxes.size(), 1u) << Describe(t);
    const BoxInfo& box = t.boxes[0].info;
    EXPECT_EQ(kTitle, box.caption);
    EXPECT_EQ(text, box.text);
    EXPECT_EQ((std::vector<int>{IDYES, IDNO}), box.buttons);
    EXPECT_EQ(IDNO, box.defaultButton);
    EXPECT_EQ(nullptr, box.owner);
}

}  // namespace

TEST_F(EndToEndTest, SuccessShowsTheFinalBoxOnlyAfterTheDialogIsGone)
{
    const std::wstring updater = MakeUpdaterFile();
    Transcript t = Run(updater);
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    ExpectConfirmation(t);
    ASSERT_EQ(2u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"Installation complete.", t.boxes[1].info.text);
    EXPECT_EQ(kTitle, t.boxes[1].info.caption);
    EXPECT_EQ(std::vector<int>{IDOK}, t.boxes[1].info.buttons);
    EXPECT_FALSE(t.boxes[1].dialogPresent);
    EXPECT_EQ(nullptr, t.boxes[1].info.owner);
    EXPECT_TRUE(t.sawDialog);
    EXPECT_EQ(kTitle, t.dialogCaption);
    EXPECT_EQ(L"Cancel", t.cancelCaption);
    EXPECT_EQ(ReadBytes(dir / L"ship\\Archive\\data01400.arc"), ReadBytes(game + L"\\Archive\\data01400.arc"));
    const Bytes uninst = ReadBytes(game + L"\\uninst.lst");
    EXPECT_NE(std::string::npos, std::string(uninst.begin(), uninst.end()).find("archive\\data01400.arc"));
}

// A screen reader reads the dialog from outside: the status line and both bars stay visible while the
// update copies.
TEST_F(EndToEndTest, ProgressStaysVisibleToOtherProgramsWhileCopying)
{
    Transcript t = Run(MakeUpdaterFile(3, 16 * 1024 * 1024));
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    EXPECT_GT(t.copyReadings, 0) << Describe(t);
    EXPECT_EQ(0, t.hiddenControlReadings) << "of " << t.copyReadings << " readings during the copy";
}

TEST_F(EndToEndTest, EarlyExitsWithTheirBoxesAndCodes)
{
    const std::wstring updater = MakeUpdaterFile();

    ForgetInstallation();
    Transcript t = Run(updater);
    EXPECT_EQ(static_cast<DWORD>(-1), t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"The game is not installed.", t.boxes[0].info.text);
    EXPECT_EQ(std::vector<int>{IDOK}, t.boxes[0].info.buttons);

    // The game runs (this process holds its mutex): box 17, before the registry is ever read.
    UniqueHandle game(CreateMutexA(nullptr, TRUE, "Nolvane for GarasuNoHaneWoKazoete is executing."));
    t = Run(updater);
    game.Reset(nullptr);
    EXPECT_EQ(static_cast<DWORD>(-2), t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"Update cannot be installed because the game is currently running.", t.boxes[0].info.text);
    EXPECT_EQ(kTitle, t.boxes[0].info.caption);
    ASSERT_TRUE(RegisterInstallation(this->game));

    for (int answer : {IDNO, kPressEnter}) {
        t = Run(updater, answer);
        EXPECT_EQ(static_cast<DWORD>(-3), t.exitCode) << Describe(t);
        ExpectConfirmation(t);
        EXPECT_EQ(1u, t.boxes.size());
        EXPECT_FALSE(t.sawDialog);
    }

    // The bare program has no title block.
    t = Run(FromUnixPath(UPDATER_EXE));
    EXPECT_EQ(static_cast<DWORD>(-5), t.exitCode);
    ASSERT_EQ(1u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"Error", t.boxes[0].info.caption);
    EXPECT_EQ(L"Failed to get version information.", t.boxes[0].info.text);
}

TEST_F(EndToEndTest, SecondCopyEndsSilentlyWhileTheFirstWaits)
{
    const std::wstring updater = MakeUpdaterFile();
    ChildProcess first(L"\"" + updater + L"\"");  // ended on every path: it holds the updater's mutex
    ASSERT_TRUE(first.Started());
    HWND box = WaitForDialogWindow(first.Id(), nullptr, 30000);
    ASSERT_NE(nullptr, box);

    Transcript second = Run(updater);
    EXPECT_EQ(static_cast<DWORD>(-6), second.exitCode);
    EXPECT_TRUE(second.boxes.empty());
    EXPECT_FALSE(second.sawDialog);

    EXPECT_TRUE(IsWindow(box));  // the first is unaffected
    PressButton(box, IDNO);
    EXPECT_EQ(static_cast<DWORD>(-3), first.Wait(30000));
}

TEST_F(EndToEndTest, FailedRunsShowTheirWarnings)
{
    std::wstring updater = MakeUpdaterFile();
    Bytes file = ReadBytes(updater);
    file[file.size() - 10] ^= 0xFF;  // the last archive no longer matches its checksum
    ASSERT_TRUE(WriteBytes(dir / L"damaged.exe", file));
    Transcript t = Run(dir / L"damaged.exe");
    EXPECT_EQ(kDamaged, t.exitCode);
    ASSERT_EQ(2u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"The installer may be damaged.", t.boxes[1].info.text);
    EXPECT_FALSE(t.boxes[1].dialogPresent);

    RemoveTree(game + L"\\Archive");
    t = Run(updater);
    EXPECT_EQ(kInstallFailed, t.exitCode);
    ASSERT_EQ(2u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"Installation could not be completed.", t.boxes[1].info.text);

    MakeDir(game + L"\\Archive");
    DeleteFileW((game + L"\\uninst.lst").c_str());
    t = Run(updater);
    EXPECT_EQ(kListFailed, t.exitCode);
    ASSERT_EQ(2u, t.boxes.size()) << Describe(t);
    EXPECT_EQ(L"Failed to update the installation info.", t.boxes[1].info.text);
}

TEST_F(EndToEndTest, DeltaUpdaterPatchesTheInstalledVersionAndARerunChangesNothing)
{
    const std::wstring updater = MakeDeltaUpdaterFile();
    EXPECT_LT(ReadBytes(updater).size(), kPayloadOffset + 100000u) << "the delta package ships whole archives";
    Transcript t = Run(updater);
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    ExpectConfirmation(t);
    for (const wchar_t* name : {L"Archive\\data01200.arc", L"Archive\\data01300.arc"})
        EXPECT_EQ(ReadBytes(dir / (std::wstring(L"ship\\") + name)), ReadBytes(game + L"\\" + name));
    const std::vector<std::wstring> files = ListFiles(game);
    const Bytes list = ReadBytes(game + L"\\kpx.hvl");
    t = Run(updater);
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    EXPECT_EQ(files, ListFiles(game));
    EXPECT_EQ(list, ReadBytes(game + L"\\kpx.hvl"));
    ExpectDeltaRefusals(updater, L"This update does not apply to the installed version of the game.");
}

TEST_F(EndToEndTest, DeltaUpdaterThatDoesNotApplyTellsAJapanesePlayer)
{
    ASSERT_EQ(0x11, GetUserDefaultUILanguage() & 0x3FF) << "this case needs LANG=ja_JP.UTF-8";
    ExpectDeltaRefusals(MakeDeltaUpdaterFile(),
                        L"\u3053\u306E\u30A2\u30C3\u30D7\u30C7\u30FC\u30C8\u306F\u3001\u30A4\u30F3\u30B9\u30C8\u30FC"
                        L"\u30EB\u3055\u308C\u3066\u3044\u308B\u30B2\u30FC\u30E0\u306E\u30D0\u30FC\u30B8\u30E7\u30F3"
                        L"\u306B\u306F\u9069\u7528\u3067\u304D\u307E\u305B\u3093\u3002");
}

TEST_F(EndToEndTest, FoldersCannotBeMovedWhileTheQuestionWaits)
{
    // Another program tries to put a folder of its own where the game and its "Archive" folder stand while
    // "Install the update?" waits; had it succeeded, the elevated run would write into that folder.
    const std::wstring updater = MakeUpdaterFile();
    MakeDir(dir / L"decoy");
    MakeInstallation(dir / L"decoy", {"data01200.arc"});
    const std::map<std::wstring, Bytes> decoy = [&] {
        std::map<std::wstring, Bytes> s;
        for (const std::wstring& f : ListFiles(dir / L"decoy"))
            s[f] = ReadBytes(dir / (L"decoy\\" + f));
        return s;
    }();
    std::vector<std::wstring> moved;
    UserScript script;
    script.updater = updater;
    script.beforeAnswer = [&] {
        for (const std::wstring& folder : {game + L"\\Archive", game}) {
            if (MoveFileExW(folder.c_str(), (folder + L".away").c_str(), 0)) {
                moved.push_back(folder);
                MoveFileExW((dir / L"decoy").c_str(), folder.c_str(), 0);
            }
        }
    };
    const Transcript t = RunAsUser(script);
    EXPECT_TRUE(moved.empty()) << "moved while the question waited: " << std::string(moved[0].begin(), moved[0].end());
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    for (int i = 0; i < 3; ++i) {
        const std::wstring name = L"Archive\\data0" + std::to_wstring(12 + i) + L"00.arc";
        EXPECT_EQ(ReadBytes(dir / (L"ship\\" + name)), ReadBytes(game + L"\\" + name));
    }
    for (const auto& f : decoy)
        EXPECT_EQ(f.second, ReadBytes(dir / (L"decoy\\" + f.first)));
}

TEST_F(EndToEndTest, CancelConfirmedAndDialogClosedEndWithoutABox)
{
    // A package stored as it is, then one whose archives are decompressed as they are copied.
    for (const bool compress : {false, true}) {
        SCOPED_TRACE(compress ? "compressed" : "stored");
        const std::wstring updater = MakeUpdaterFile(3, 48 << 20, compress);
        WIN32_FILE_ATTRIBUTE_DATA package = {};
        ASSERT_TRUE(GetFileAttributesExW(updater.c_str(), GetFileExInfoStandard, &package));
        EXPECT_EQ(compress, package.nFileSizeLow < (100u << 20)) << package.nFileSizeLow;  // 144 MiB of content
        const Bytes oldArchive = ReadBytes(game + L"\\Archive\\data01200.arc");

        Transcript t = Run(updater, IDYES, UserScript::ClickCancelYes, 1);
        EXPECT_EQ(0x80000006u, t.exitCode) << Describe(t);
        ASSERT_EQ(2u, t.boxes.size()) << Describe(t);
        EXPECT_EQ(L"Cancel the installation?", t.boxes[1].info.text);
        EXPECT_EQ(IDNO, t.boxes[1].info.defaultButton);
        EXPECT_FALSE(t.cancelEnabledAfterAction);
        EXPECT_EQ(oldArchive, ReadBytes(game + L"\\Archive\\data01200.arc"));

        t = Run(updater, IDYES, UserScript::CloseDialog, 2);
        EXPECT_EQ(0x80000007u, t.exitCode) << Describe(t);
        EXPECT_EQ(1u, t.boxes.size()) << Describe(t);
        EXPECT_EQ(oldArchive, ReadBytes(game + L"\\Archive\\data01200.arc"));

        t = Run(updater, IDYES, UserScript::PostQuit, 2);
        EXPECT_EQ(0x80000007u, t.exitCode) << Describe(t);
        EXPECT_EQ(1u, t.boxes.size()) << Describe(t);
        for (const std::wstring& f : ListFiles(game))
            EXPECT_EQ(std::wstring::npos, f.find(L".tmp"));

        // Cancel answered No: the update goes on to its end.
        t = Run(updater, IDYES, UserScript::ClickCancelNo, 2);
        EXPECT_EQ(0u, t.exitCode) << Describe(t);
        EXPECT_TRUE(t.cancelEnabledAfterAction);
        EXPECT_EQ(3u, t.boxes.size());
        EXPECT_EQ(ReadBytes(dir / L"ship\\Archive\\data01300.arc"), ReadBytes(game + L"\\Archive\\data01300.arc"));
        // The next round starts from the old installation again.
        RemoveTree(game);
        MakeDir(game);
        MakeInstallation(game, {"data01200.arc", "data01300.arc"});
    }
}

TEST_F(EndToEndTest, JapaneseUserInterface)
{
    // Run by CTest with a Japanese Wine locale (see tests/CMakeLists.txt): the players' usual setup, a
    // Japanese UI and a game installed below a Japanese folder, shipping a file with a Japanese name.
    ASSERT_EQ(0x11, GetUserDefaultUILanguage() & 0x3FF) << "this case needs LANG=ja_JP.UTF-8";
    const std::wstring japaneseGame = dir / L"\u30B2\u30FC\u30E0";
    MakeDir(japaneseGame);
    game = japaneseGame + L"\\\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";
    MakeDir(game);
    MakeInstallation(game, {"data01200.arc"});
    ASSERT_TRUE(RegisterInstallation(game));
    const std::wstring scenario = L"Archive\\\u8FFD\u52A0\u30B7\u30CA\u30EA\u30AA.arc";
    const char scenarioUtf8[] = "Archive\\\xE8\xBF\xBD\xE5\x8A\xA0\xE3\x82\xB7\xE3\x83\x8A\xE3\x83\xAA\xE3\x82\xAA.arc";
    const Bytes scenarioBytes = RandomBytes(7000, 77);
    ASSERT_TRUE(WriteBytes(dir / (L"ship\\" + scenario), scenarioBytes));
    const std::wstring updater = MakeUpdaterFile();
    Transcript t = Run(updater);
    EXPECT_EQ(0u, t.exitCode) << Describe(t);
    ExpectConfirmation(t, L"\u30A2\u30C3\u30D7\u30C7\u30FC\u30C8\u3092\u884C\u3044\u307E\u3059\u304B\uFF1F");
    EXPECT_EQ(L"\u4E2D\u6B62", t.cancelCaption);  // template 102
    ASSERT_EQ(2u, t.boxes.size());
    EXPECT_EQ(L"\u30A4\u30F3\u30B9\u30C8\u30FC\u30EB\u304C\u5B8C\u4E86\u3057\u307E\u3057\u305F\u3002",
              t.boxes[1].info.text);

    // The bytes, the version list (the name in Shift-JIS, read back as the same name) and the uninstall list.
    EXPECT_EQ(scenarioBytes, ReadBytes(game + L"\\" + scenario));
    EXPECT_EQ(ReadBytes(dir / L"ship\\Archive\\data01300.arc"), ReadBytes(game + L"\\Archive\\data01300.arc"));
    VersionListHeader header;
    std::vector<VersionRecord> records;
    ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
    auto record = std::find_if(records.begin(), records.end(), [&](const VersionRecord& r) { return r.name == scenarioUtf8; });
    ASSERT_NE(records.end(), record);
    EXPECT_EQ(ChecksumOf(scenarioBytes), record->value);
    const Bytes list = ReadBytes(game + L"\\kpx.hvl");
    const Bytes shiftJis = ToBytes("Archive\\\x92\xC7\x89\xC1");  // "Archive\追加"
    EXPECT_NE(list.end(), std::search(list.begin(), list.end(), shiftJis.begin(), shiftJis.end()))
        << "the record's name is stored in Shift-JIS";
    const Bytes uninst = ReadBytes(game + L"\\uninst.lst");
    const std::string lower = std::string("archive") + (scenarioUtf8 + 7) + "\n";
    EXPECT_NE(std::string::npos, std::string(uninst.begin(), uninst.end()).find(lower));
}

// Players install games in deep folders. A game folder whose targets' paths pass MAX_PATH updates as a short
// one does, and its version list records every file that is there, with the checksum of what is there. A folder
// so deep that a target's path fits the path buffer but its "<target>.tmp" does not ends the run with
// "installation failed" before anything is written, as plan predicts.
TEST_F(EndToEndTest, DeepGameFoldersUpdateLikeShortOnes)
{
    const std::wstring updater = MakeUpdaterFile();
    // The shipped targets are "Archive\data01200.arc" and its like: 21 characters, 25 with ".tmp".
    const struct {
        size_t length;
        DWORD exitCode;
    } cases[] = {{250u, 0u}, {300u, 0u}, {kPathCapacity - 24, kInstallFailed}};
    for (const auto& c : cases) {
        const size_t length = c.length;
        game = dir / (L"deep" + std::to_wstring(length));
        for (wchar_t part = L'a'; game.size() < length; ++part) {
            MakeDir(game);
            game += L"\\" + std::wstring(std::min<size_t>(40, length - game.size() - 1), part);
        }
        MakeDir(game);
        ASSERT_EQ(length, game.size());
        MakeInstallation(game, {"data01200.arc", "data01300.arc"});
        ASSERT_TRUE(RegisterInstallation(game));
        const std::vector<std::wstring> before = ListFiles(game);
        Transcript t = Run(updater);
        ASSERT_EQ(c.exitCode, t.exitCode) << length << " characters: " << Describe(t);
        ASSERT_EQ(0, lastPlanned) << length << " characters";
        EXPECT_EQ(t.exitCode, lastPlan.result) << length << " characters";
        if (c.exitCode != 0) {
            EXPECT_TRUE(lastPlan.temporaryPathTooLong && lastPlan.leftovers.empty());
            EXPECT_EQ(before, ListFiles(game));
            continue;
        }
        EXPECT_EQ(ReadBytes(dir / L"ship\\Archive\\data01400.arc"), ReadBytes(game + L"\\Archive\\data01400.arc"));
        VersionListHeader header;
        std::vector<VersionRecord> records;
        ASSERT_TRUE(LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()));
        EXPECT_EQ(3u, records.size()) << length << " characters";
        for (const VersionRecord& r : records) {
            const std::wstring name(r.name.begin(), r.name.end());
            EXPECT_EQ(r.value, ChecksumOf(ReadBytes(game + L"\\" + name))) << r.name;
        }
    }
}
