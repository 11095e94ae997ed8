// The fault campaign: damaged packages, file-system faults, killed runs and hostile input, each against a
// fresh copy of a reference installation, checked against what the installation may hold afterwards.
// Prints one line of figures at the end.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "archive/entry_lists.h"
#include "install/uninstall_list.h"
#include "tests/fault_seam.h"
#include "tests/package_factory.h"
#include "tests/user_session.h"
#include "tools/package_builder.h"
#include "tools/package_reader.h"
#include "ui/app_state.h"
#include "update/package/package.h"
#include "update/run/driver.h"
#include "util/base/handles_win.h"
#include "util/text/encoding.h"

namespace {

struct Figures {
    int damaged = 0, fileSystem = 0, kills = 0, hostile = 0;
    int crashes = 0, hangs = 0, changedOnFailure = 0, torn = 0, tempsLeft = 0, reruns = 0, converged = 0;
    int verdicts = 0, verdictsDiffering = 0, links = 0, writesOutside = 0, rollbacks = 0, mixed = 0, lost = 0;
    int races = 0, raceWritesOutside = 0, unixSwaps = 0, unixReachedOutside = 0, unixRefused = 0;
    int crashPoints = 0, crashConverged = 0, powerCuts = 0, powerConverged = 0, failedReruns = 0, listsDisagreeing = 0;
    // Of those, the runs of delta packages.
    int deltaDamaged = 0, deltaCrashPoints = 0, deltaCrashConverged = 0, deltaPowerConverged = 0, deltaKills = 0,
        deltaConverged = 0, deltaReruns = 0, deltaRaces = 0;
    // ...and of compressed packages (whole files and deltas stored as zstd frames beside stored entries).
    int zstdDamaged = 0, zstdCrashPoints = 0, zstdCrashConverged = 0, zstdPowerConverged = 0, zstdKills = 0,
        zstdConverged = 0, zstdReruns = 0;
} g_figures;

class SummaryPrinter : public ::testing::Environment {
public:
    void TearDown() override
    {
        const Figures& f = g_figures;
        printf("fault campaign: %d damaged packages, %d file-system faults, %d kills, %d hostile inputs, "
               "%d planted links; %d crashes, %d hangs, %d changed installations on failure, %d rollbacks, "
               "%d mixed installations, %d originals lost, %d torn files, %d temporary files left, "
               "%d writes outside the installation, %d/%d re-runs converged, %d/%d crash points converged, "
               "%d/%d power-cut states converged (%d uncommitted renames taken back), %d failed re-runs after a "
               "crash, %d version lists that disagree "
               "with the files, %d/%d verdicts of mkupdate verify agreeing; %d races, %d writes outside (a Windows user renaming the folders); %d Unix-level "
               "folder swaps, %d reaching outside, %d refused with 0x80000004; of them with delta packages: %d damaged "
               "packages, %d/%d crash points and %d/%d power-cut states converged, %d kills with %d/%d re-runs "
               "converged, %d races; with compressed packages: %d damaged packages, %d/%d crash points and %d/%d "
               "power-cut states converged, %d kills with %d/%d re-runs converged\n",
               f.damaged, f.fileSystem, f.kills, f.hostile, f.links, f.crashes, f.hangs, f.changedOnFailure,
               f.rollbacks, f.mixed, f.lost, f.torn, f.tempsLeft, f.writesOutside, f.converged, f.reruns,
               f.crashConverged, f.crashPoints, f.powerConverged, f.powerCuts, FaultSeam::TakenBack(), f.failedReruns,
               f.listsDisagreeing,
               f.verdicts - f.verdictsDiffering, f.verdicts, f.races, f.raceWritesOutside, f.unixSwaps,
               f.unixReachedOutside, f.unixRefused, f.deltaDamaged, f.deltaCrashConverged, f.deltaCrashPoints,
               f.deltaPowerConverged, f.deltaCrashPoints, f.deltaKills, f.deltaConverged, f.deltaReruns, f.deltaRaces,
               f.zstdDamaged, f.zstdCrashConverged, f.zstdCrashPoints, f.zstdPowerConverged, f.zstdCrashPoints, f.zstdKills,
               f.zstdConverged, f.zstdReruns);
    }
};
const auto* g_summary = ::testing::AddGlobalTestEnvironment(new SummaryPrinter);

using Snapshot = std::map<std::wstring, Bytes>;

// File names as Windows compares them: without regard to case.
std::wstring Folded(std::wstring name)
{
    CharLowerBuffW(&name[0], static_cast<DWORD>(name.size()));
    return name;
}

Snapshot TakeSnapshot(const std::wstring& folder)
{
    Snapshot s;
    for (const std::wstring& f : ListFiles(folder))
        s[Folded(f)] = ReadBytes(folder + L"\\" + f);
    return s;
}

std::string Narrow(const std::wstring& w)
{
    std::string out;
    for (wchar_t c : w)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

// An updater process that ended through an unhandled exception ends with its NTSTATUS error code
// (0xC0000005 and the like), and one that called abort() (a failed assertion, std::terminate) with 3; the
// updater's own codes are 0, 0x8000000x and -1 to -6. A crash or a hang fails the campaign as well as counting.
void CountOutcome(const Transcript& t)
{
    if (t.finished && ((t.exitCode >= 0xC0000000u && t.exitCode < 0xD0000000u) || t.exitCode == 3)) {
        ++g_figures.crashes;
        ADD_FAILURE() << "the updater crashed\n" << Describe(t);
    }
    if (!t.started) {
        ADD_FAILURE() << "the updater could not be started\n" << Describe(t);
    } else if (!t.finished && !t.killed) {
        ++g_figures.hangs;
        ADD_FAILURE() << "the updater did not end in time\n" << Describe(t);
    }
}

bool IsResultCode(uint32_t r)
{
    return r == 0 || r == 0x80000001 || r == 0x80000002 || (r >= 0x80000004 && r <= 0x80000008);
}

int CountTemporaryFiles(const Snapshot& s)
{
    int n = 0;
    for (const auto& f : s) {
        const std::wstring& name = f.first;
        if ((name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".tmp") == 0) ||
            (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".new") == 0) ||
            (name.size() > 5 && _wcsicmp(name.c_str() + name.size() - 5, L".kept") == 0))
            ++n;
    }
    return n;
}

// `mkupdate verify` must accept a package exactly when the updater does not refuse it as damaged or
// unreadable: the same reading, then the same checks.
void CompareWithVerify(const std::wstring& package, uint32_t result, const std::string& what)
{
    UpdaterContents contents;
    std::string why;
    const bool accepted = ReadUpdaterFile(package, contents, why) && VerifyUpdaterFile(package, why);
    const bool refused = result == kResultDamaged || result == kResultUnreadable;
    ++g_figures.verdicts;
    if (accepted == refused) {
        ++g_figures.verdictsDiffering;
        ADD_FAILURE() << what << ": the updater ended with " << std::hex << result << ", verify "
                      << (accepted ? "accepted it" : "refused it: " + why);
    }
}

const std::vector<std::string> kOldArchives = {"data01200.arc", "data01300.arc", "data01400.arc"};

// One line as each part of the campaign starts and ends, appended to the file FAULT_CAMPAIGN_PROGRESS names
// (scripts/test.sh shows them while CTest, which shows a test's output only when it ends, runs the campaign).
void SayProgress(const std::string& line)
{
    const char* path = getenv("FAULT_CAMPAIGN_PROGRESS");
    if (FILE* f = path ? fopen(path, "a") : nullptr) {
        fprintf(f, "campaign: %s\n", line.c_str());
        fclose(f);
    }
}

// Every run starts from this installation, in `sandbox\game`; the sandbox's other contents show whether
// anything was written outside the installation.
class FaultCampaign : public ::testing::Test {
protected:
    void SetUp() override
    {
        game = dir / L"game";
        g_hProgressDlg = nullptr;
        g_cancelRequested = g_abortRequested = 0;
        started_ = said_ = GetTickCount64();
        SayProgress(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "...");
    }
    void TearDown() override
    {
        SayProgress(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ": " +
                    std::to_string((GetTickCount64() - started_ + 500) / 1000) + " s");
    }
    ULONGLONG started_ = 0, said_ = 0;
    int runs_ = 0;
    // Every case starts here: at most every 10 s, a line says how far the part has come.
    void FreshInstallation()
    {
        ++runs_;
        if (GetTickCount64() - said_ >= 10000) {
            said_ = GetTickCount64();
            SayProgress(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ": " +
                        std::to_string(runs_) + " cases so far, " + std::to_string((said_ - started_) / 1000) + " s");
        }
        RemoveTree(game);
        MakeDir(game);
        MakeInstallation(game, kOldArchives);
        WriteText(game + L"\\save.dat", "the player's own file");
        if (bases.empty())
            return;
        std::vector<VersionRecord> records;
        for (size_t i = 0; i < kOldArchives.size(); ++i) {
            WriteBytes(game + L"\\Archive\\" + std::wstring(kOldArchives[i].begin(), kOldArchives[i].end()), bases[i]);
            records.push_back({"Archive\\" + kOldArchives[i], ChecksumOf(bases[i])});
        }
        WriteBytes(game + L"\\kpx.hvl", MakeVersionList(records));
    }
    std::vector<std::wstring> SandboxOutsideGame()
    {
        std::vector<std::wstring> out;
        for (const std::wstring& f : ListFiles(dir.path()))
            if (f.compare(0, 5, L"game\\") != 0)
                out.push_back(f);
        return out;
    }
    uint32_t RunInProcess(const Bytes& package)
    {
        EXPECT_TRUE(WriteBytes(dir / L"package.bin", package)) << "the package could not be written";
        g_cancelRequested = g_abortRequested = 0;
        return HoldAndRunUpdate(game.c_str(), (dir / L"package.bin").c_str());
    }

    // After a failed run: nothing changed and nothing left behind.
    void CheckUnchanged(const Snapshot& before, const char* what)
    {
        const Snapshot after = TakeSnapshot(game);
        const int temps = CountTemporaryFiles(after);
        g_figures.tempsLeft += temps;
        EXPECT_EQ(0, temps) << what;
        if (after != before) {
            ++g_figures.changedOnFailure;
            ADD_FAILURE() << what << ": the installation changed on a failed run";
        }
    }

    // After a successful run of `package`: every target the package names holds exactly its entry's bytes,
    // every other file is as it was (the two lists aside), and nothing is left behind.
    void CheckInstalledAsThePackageSays(const Bytes& package, const Snapshot& before, const char* what)
    {
        UpdatePackage p;
        ASSERT_EQ(0u, OpenUpdatePackage(p, (dir / L"package.bin").c_str())) << what;
        LoadPayloadVersionList(p);
        std::map<std::wstring, Bytes> expected;
        for (const ArchiveEntry& e : p.entries) {
            const int r = FindRecordByFileName(p.records, p.versionHeader.count, e.name);
            const std::string target = r == kNoRecord ? e.name : p.records[r].name;
            if (SameArchiveName(target, kVersionListKey))
                continue;
            std::wstring wide;
            ASSERT_TRUE(MultiByteToWide(target.c_str(), wide)) << what;
            std::replace(wide.begin(), wide.end(), L'/', L'\\');
            wide = Folded(wide);
            const size_t at = kPayloadOffset + static_cast<size_t>(e.position);
            expected[wide] = Bytes(package.begin() + at, package.begin() + at + e.size);
        }
        p.file.Close();
        const Snapshot after = TakeSnapshot(game);
        for (const auto& f : expected) {
            auto it = after.find(f.first);
            EXPECT_TRUE(it != after.end() && it->second == f.second) << what << ": " << Narrow(f.first);
        }
        for (const auto& f : after) {
            if (expected.count(f.first) || f.first == L"kpx.hvl" || f.first == L"uninst.lst")
                continue;
            auto old = before.find(f.first);
            if (old == before.end() || old->second != f.second) {
                ++g_figures.changedOnFailure;
                ADD_FAILURE() << what << ": unexpected change to " << Narrow(f.first);
            }
        }
        const Bytes list = ReadBytes(game + L"\\uninst.lst");
        EXPECT_TRUE(!list.empty() && list.back() == 0) << what;
        const int temps = CountTemporaryFiles(after);
        g_figures.tempsLeft += temps;
        EXPECT_EQ(0, temps) << what;
    }

    // Every place of the install phase: a target held open, a failed move and a failed put-back at each
    // index.
    void InstallPhaseFaults(const Bytes& package);
    void CrashPointsConverge(const Bytes& package, const std::string& kind);
    // Damaged forms of a sound package (flips and cuts) change nothing, and verify agrees with the updater.
    void DamagedSweep(const Bytes& good, const std::string& kind, size_t step, int& counter);
    // Kills a real run at `runs` moments spread over a clean run's time; each followed by a full run.
    void KillSpread(UserScript& script, const Snapshot& old, const Snapshot& reference, const Transcript& clean, int runs,
                    const std::string& kind);
    // A delta package for the fresh installation: its three archives patched, "data01500.arc" whole.
    Bytes DeltaReferencePackage()
    {
        FreshInstallation();
        std::vector<DeltaTarget> targets;
        for (size_t i = 0; i < kOldArchives.size(); ++i) {
            const Bytes base = ReadBytes(game + L"\\Archive\\" + std::wstring(kOldArchives[i].begin(), kOldArchives[i].end()));
            Bytes target = base;
            target[base.size() / 2] ^= 0x5A;
            const Bytes more = RandomBytes(300, 60 + static_cast<unsigned>(i));
            target.insert(target.end(), more.begin(), more.end());
            targets.push_back({kOldArchives[i], {base}, target, false});
        }
        targets.push_back({"data01500.arc", {}, RandomBytes(700, 64), true});
        return MakeUpdater(MakeDeltaEntries(targets));
    }
    // A compressed package for the fresh installation, made by the builder: two archives patched through
    // compressed deltas (what they add is text), a new text-like archive copied from a zstd frame, and a random
    // one stored as it is beside them.
    Bytes CompressedReferencePackage()
    {
        FreshInstallation();
        RemoveTree(dir / L"zship");
        MakeDir(dir / L"zship");
        MakeDir(dir / L"zship\\Archive");
        std::string text;
        for (int line = 0; text.size() < 60000; ++line)
            text += "scene " + std::to_string(line % 41) + ": a line of the script, said again and again\r\n";
        for (size_t i = 0; i < 2; ++i) {
            Bytes target = ReadBytes(game + L"\\Archive\\" + std::wstring(kOldArchives[i].begin(), kOldArchives[i].end()));
            target.insert(target.begin() + static_cast<std::ptrdiff_t>(target.size() / 2), text.begin(),
                          text.begin() + 20000 + 5000 * static_cast<std::ptrdiff_t>(i));
            WriteBytes(dir / (L"zship\\Archive\\" + std::wstring(kOldArchives[i].begin(), kOldArchives[i].end())), target);
        }
        WriteBytes(dir / L"zship\\Archive\\data01500.arc", Bytes(text.begin(), text.end()));
        WriteBytes(dir / L"zship\\Archive\\data01600.arc", RandomBytes(900, 65));
        BuildOptions options;
        options.image = FromUnixPath(UPDATER_EXE);
        options.title = "Compressed Updater";
        options.output = dir / L"compressed.exe";
        options.bases = {game};
        options.compress = true;
        options.progress = false;
        std::string error;
        const bool built = CollectFolder(dir / L"zship", options.files, error) && BuildUpdater(options, error);
        EXPECT_TRUE(built) << error;
        EXPECT_EQ("2 deltas, 1 whole, 1 stored", CompressedForms(dir / L"compressed.exe"));
        return built ? ReadBytes(dir / L"compressed.exe") : Bytes();
    }
    // What a package stores compressed: "N deltas, N whole, N stored" (the stored ones files or deltas).
    static std::string CompressedForms(const std::wstring& path)
    {
        UpdatePackage p;
        std::string problem;
        if (OpenUpdatePackage(p, path.c_str()) || LoadPayloadDeltaTable(p, problem) || LoadPayloadCompressionTable(p, problem))
            return "unreadable";
        int deltas = 0, whole = 0, stored = 0;
        for (const ArchiveEntry& e : p.entries) {
            const EntryKind kind = KindOfEntry(p, e.name);
            if (kind != EntryKind::Delta && kind != EntryKind::WholeFile)
                continue;
            if (CompressionRecordOf(p, e.name) == kStoredAsIs)
                ++stored;
            else
                ++(kind == EntryKind::Delta ? deltas : whole);
        }
        return std::to_string(deltas) + " deltas, " + std::to_string(whole) + " whole, " + std::to_string(stored) + " stored";
    }
    // Each archive stands under its own name or kept aside, as it was in `old` or in `reference`: never lost,
    // and after a failed run never new beside old ones with nothing kept to go back to.
    void JudgeArchives(const Snapshot& s, const Snapshot& old, const Snapshot& reference, bool failed,
                       const std::string& what);
    // After a stopped run: the archives as JudgeArchives says, and every other file whole, as it was in
    // `old` or as in `reference`. Counts what is torn.
    void JudgeStopped(const Snapshot& s, const Snapshot& old, const Snapshot& reference, const std::string& what);

    // The real updater, "update.exe" in the sandbox, shipping the three archives of a sample update of
    // `size` bytes each. With `delta`, the installation's archives are of that size too and the updater
    // ships deltas against them: each archive with a few inner files changed. With `compress`, a compressed
    // package of archives whose second half is text-like.
    bool BuildRealUpdater(size_t size, unsigned seed, bool delta, bool compress = false)
    {
        SampleUpdate update = MakeSampleUpdate(3, size, seed);
        MakeDir(dir / L"ship");
        MakeDir(dir / L"ship\\Archive");
        MakeDir(dir / L"base");
        MakeDir(dir / L"base\\Archive");
        bases.clear();
        for (int i = 0; i < 3; ++i) {
            const std::wstring name = L"Archive\\" + std::wstring(kOldArchives[i].begin(), kOldArchives[i].end());
            Bytes shipped = update.entries[i + 1].data;
            for (size_t at = size / 2; compress && at < size; ++at)
                shipped[at] = static_cast<uint8_t>("scene, line, said again "[at % 24] + (at / 4096) % 3);
            if (delta) {
                bases.push_back(shipped);
                for (size_t at = size / 5; at + 4096 < size; at += size / 4)
                    std::fill_n(shipped.begin() + static_cast<std::ptrdiff_t>(at), 4096, static_cast<uint8_t>(i + at));
                WriteBytes(dir / (L"base\\" + name), bases.back());
            }
            WriteBytes(dir / (L"ship\\" + name), shipped);
        }
        BuildOptions options;
        if (delta)
            options.bases = {dir / L"base"};
        options.compress = compress;
        options.level = 3;  // the campaign's time goes to the runs, not the build
        options.image = FromUnixPath(UPDATER_EXE);
        options.title = "Fault Campaign Updater";
        options.output = dir / L"update.exe";
        std::string error;
        const bool built = CollectFolder(dir / L"ship", options.files, error) && BuildUpdater(options, error);
        EXPECT_TRUE(built) << error;
        if (compress) {
            EXPECT_EQ("0 deltas, 3 whole, 0 stored", CompressedForms(options.output));
        }
        return built;
    }

    // Builds the real updater, registers the game and runs it once on a fresh installation, as a user would:
    // `old` and `reference` are the installation before and after. False when any of it failed.
    bool FirstRealRun(size_t size, unsigned seed, UserScript& script, Snapshot& old, Snapshot& reference,
                      Transcript& clean, bool delta = false, bool compress = false)
    {
        if (!BuildRealUpdater(size, seed, delta, compress) || !RegisterInstallation(game))
            return false;
        script.updater = dir / L"update.exe";
        script.timeoutMs = 60000;
        FreshInstallation();
        old = TakeSnapshot(game);
        clean = RunAsUser(script);
        reference = TakeSnapshot(game);
        EXPECT_EQ(0u, clean.exitCode) << Describe(clean);
        return clean.exitCode == 0;
    }

    TempDir dir;
    std::wstring game;
    std::vector<Bytes> bases;  // when set, the installation's archives (a delta updater's bases)
};

std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void FaultCampaign::JudgeArchives(const Snapshot& s, const Snapshot& old, const Snapshot& reference, bool failed,
                                  const std::string& what)
{
    int fresh = 0, stale = 0;
    for (const std::string& a : kOldArchives) {
        const std::wstring name = L"archive\\" + Wide(a);
        auto at = s.find(name), kept = s.find(name + L".kept");
        const bool isOld = at != s.end() && at->second == old.at(name);
        const bool isNew = at != s.end() && at->second == reference.at(name);
        const bool oldKept = kept != s.end() && kept->second == old.at(name);
        if (!isOld && !isNew && !oldKept) {
            ++g_figures.lost;
            ADD_FAILURE() << what << ": " << a << " is torn or gone";
        }
        fresh += isNew && !oldKept;
        stale += isOld;
    }
    if (failed && fresh && stale) {
        ++g_figures.mixed;
        ADD_FAILURE() << what << ": a failed run left a mixed installation";
    }
}

void FaultCampaign::JudgeStopped(const Snapshot& after, const Snapshot& old, const Snapshot& reference,
                                 const std::string& what)
{
    const int lostBefore = g_figures.lost;
    JudgeArchives(after, old, reference, false, what);
    g_figures.torn += g_figures.lost - lostBefore;
    for (const auto& f : old) {
        if (f.first.compare(0, 8, L"archive\\") == 0)
            continue;
        auto it = after.find(f.first);
        if (it == after.end() || (it->second != f.second && it->second != reference.at(f.first))) {
            ++g_figures.torn;
            ADD_FAILURE() << what << ": " << Narrow(f.first) << " is torn or gone";
        }
    }
}

void FaultCampaign::InstallPhaseFaults(const Bytes& package)
{
    FreshInstallation();
    const Snapshot old = TakeSnapshot(game);
    ASSERT_EQ(kResultSuccess, RunInProcess(package));
    const Snapshot reference = TakeSnapshot(game);
    // The n-th rename that replaces what stands at its name: the moves of new files in, then the put-backs.
    auto nthReplacingRename = [](int n) {
        auto seen = std::make_shared<int>(0);
        return [seen, n](const SeamOp& op) { return op.kind == SeamOp::Rename && op.replace && ++*seen == n; };
    };
    // The n-th flush; the copies are flushed by a thread of the writer's own while the later ones are made.
    auto nthFlush = [](int n) {
        auto seen = std::make_shared<int>(0);
        return [seen, n](const SeamOp& op) { return op.kind == SeamOp::Flush && ++*seen == n; };
    };
    auto failedRun = [&](std::function<bool(const SeamOp&)> fail, int heldIndex, bool putBackFails, const std::string& what,
                         uint32_t expected = kResultInstallFailed) {
        FreshInstallation();
        const Snapshot before = TakeSnapshot(game);
        UniqueHandle held;
        if (heldIndex >= 0) {
            const std::wstring heldPath = game + L"\\Archive\\" + Wide(kOldArchives[heldIndex]);
            held = HoldAsTheGame(heldPath);
            ASSERT_TRUE(held.IsValid());
        }
        {
            FaultPlan plan;
            plan.fail = fail;
            FaultSeam seam(plan);
            EXPECT_EQ(expected, RunInProcess(package)) << what;
        }
        held.Reset(nullptr);
        ++g_figures.fileSystem;
        const Snapshot after = TakeSnapshot(game);
        JudgeArchives(after, old, reference, true, what);
        if (!putBackFails) {
            CheckUnchanged(before, what.c_str());
            g_figures.rollbacks += after == before;
        }
    };
    const int n = static_cast<int>(kOldArchives.size());
    for (int i = 0; i < n; ++i) {
        failedRun(nullptr, i, false, "held " + kOldArchives[i]);
        failedRun(nthReplacingRename(i + 1), -1, false, "failed move " + std::to_string(i + 1));
        failedRun(nthFlush(i + 1), -1, false, "failed flush " + std::to_string(i + 1));
        // Cancelled as the i-th flush starts: the run ends cancelled once the flush under way is done.
        const auto atFlush = nthFlush(i + 1);
        failedRun([=](const SeamOp& op) {
            if (atFlush(op))
                g_cancelRequested = 1;
            return false;
        }, -1, false, "cancel at flush " + std::to_string(i + 1), kResultCancelled);
        // The last move fails; then one put-back fails: that original stays kept beside its target.
        auto last = nthReplacingRename(n), putBack = nthReplacingRename(n + 1 + i);
        failedRun([=](const SeamOp& op) { return last(op) | putBack(op); }, -1, true,
                  "failed put-back " + std::to_string(i + 1));
        const std::wstring name = L"archive\\" + Wide(kOldArchives[n - 1 - i]);
        EXPECT_EQ(old.at(name), TakeSnapshot(game)[name + L".kept"]) << "put-back " << i + 1;
    }
}

// The small package of the campaign: a version list and three archives.
Bytes ReferencePackage(SampleUpdate* out = nullptr, size_t size = 700)
{
    SampleUpdate update = MakeSampleUpdate(3, size, 31);
    if (out)
        *out = update;
    return MakeUpdater(update.entries);
}

}  // namespace

TEST_F(FaultCampaign, DamagedPackagesChangeNothingOrInstallExactlyWhatTheySay)
{
    const Bytes good = ReferencePackage();
    const size_t metadataEnd = kPayloadOffset + 16 + 4 * 128 + (16 + 3 * 256);
    const std::vector<std::wstring> outside = [&] { FreshInstallation(); return SandboxOutsideGame(); }();
    auto check = [&](const Bytes& package, const std::string& what) {
        FreshInstallation();
        const Snapshot before = TakeSnapshot(game);
        const uint32_t result = RunInProcess(package);
        ++g_figures.damaged;
        CompareWithVerify(dir / L"package.bin", result, what);
        EXPECT_TRUE(IsResultCode(result)) << what << ": result " << std::hex << result;
        if (result == 0)
            CheckInstalledAsThePackageSays(package, before, what.c_str());
        else
            CheckUnchanged(before, what.c_str());
        std::vector<std::wstring> nowOutside = SandboxOutsideGame();
        nowOutside.erase(std::remove(nowOutside.begin(), nowOutside.end(), L"package.bin"), nowOutside.end());
        EXPECT_EQ(outside, nowOutside) << what << ": something was written outside the installation";
    };
    for (size_t at = kPayloadOffset; at < metadataEnd; ++at) {
        Bytes bad = good;
        bad[at] ^= (at & 1) ? 0xFF : 0x21;  // a full flip, or a change that keeps letters letters
        check(bad, "flip at " + std::to_string(at - kPayloadOffset));
    }
    std::vector<size_t> cuts;
    for (size_t at = kPayloadOffset; at < metadataEnd; at += 24)
        cuts.push_back(at);
    for (size_t at = metadataEnd; at < good.size(); at += (good.size() - metadataEnd) / 16)
        cuts.push_back(at);
    cuts.push_back(good.size() - 1);
    for (size_t at : cuts)
        check(Bytes(good.begin(), good.begin() + at), "cut at " + std::to_string(at - kPayloadOffset));
}

TEST_F(FaultCampaign, DamagedDeltaPackagesChangeNothingAndVerifyAgrees)
{
    DamagedSweep(DeltaReferencePackage(), "delta package", 3, g_figures.deltaDamaged);
    // Compressed deltas and files: a flip anywhere in a frame, its record or the table is damage, found
    // before anything is replaced.
    DamagedSweep(CompressedReferencePackage(), "compressed package", 7, g_figures.zstdDamaged);
}

void FaultCampaign::DamagedSweep(const Bytes& good, const std::string& kind, size_t step, int& counter)
{
    ASSERT_EQ(kResultSuccess, RunInProcess(good)) << kind;
    const Snapshot reference = TakeSnapshot(game);
    auto check = [&](const Bytes& package, const std::string& what, bool damage = false) {
        FreshInstallation();
        const Snapshot before = TakeSnapshot(game);
        const uint32_t result = RunInProcess(package);
        ++g_figures.damaged;
        ++counter;
        // Every delta, table and frame is checked before the first copy, used or not: a flip there is damage.
        if (damage) {
            EXPECT_EQ(kResultDamaged, result) << what;
        }
        CompareWithVerify(dir / L"package.bin", result, what);
        EXPECT_TRUE(IsResultCode(result)) << what << ": result " << std::hex << result;
        if (result != kResultSuccess) {
            CheckUnchanged(before, what.c_str());
        } else if (TakeSnapshot(game) != reference) {
            ++g_figures.changedOnFailure;
            ADD_FAILURE() << what << ": installed something else than the update";
        }
    };
    // Every `step`th byte of the deltas, the payload's tables and the compressed entries, every 29th
    // elsewhere (the plain packages' flips cover the index and the version list byte by byte); a cut at each
    // entry's start and middle.
    UpdatePackage p;
    std::string problem;
    WriteBytes(dir / L"package.bin", good);
    ASSERT_EQ(0u, OpenUpdatePackage(p, (dir / L"package.bin").c_str()));
    ASSERT_EQ(0u, LoadPayloadDeltaTable(p, problem));
    ASSERT_EQ(0u, LoadPayloadCompressionTable(p, problem));
    std::vector<size_t> flips, cuts, dense;
    for (const ArchiveEntry& e : p.entries) {
        const size_t at = kPayloadOffset + static_cast<size_t>(e.position);
        cuts.push_back(at);
        cuts.push_back(at + e.size / 2);
        const bool table = e.name.compare(0, 4, "KPX.") == 0 && e.name != "KPX.hvl";
        if (table || CompressionRecordOf(p, e.name) != kStoredAsIs)
            for (size_t k = 0; k < e.size; k += step)
                dense.push_back(at + k);
    }
    const std::vector<ArchiveEntry> entries = p.entries;
    p.file.Close();  // open, it would keep the damaged packages from being written
    for (size_t at = kPayloadOffset; at < good.size(); at += 29)
        flips.push_back(at);
    flips.insert(flips.end(), dense.begin(), dense.end());
    for (size_t at : flips) {
        Bytes bad = good;
        bad[at] ^= (at & 1) ? 0xFF : 0x21;
        std::string in = "the index";
        for (const ArchiveEntry& e : entries)
            if (at >= kPayloadOffset + e.position && at < kPayloadOffset + e.position + e.size)
                in = e.name + " +" + std::to_string(at - kPayloadOffset - e.position);
        check(bad, kind + ", flip at " + std::to_string(at - kPayloadOffset) + " (" + in + ")",
              std::find(dense.begin(), dense.end(), at) != dense.end());
    }
    for (size_t at : cuts)
        check(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(at)), kind + ", cut at " + std::to_string(at - kPayloadOffset));
}

TEST_F(FaultCampaign, FileSystemFaultsLeaveOnlyTheAllowedStates)
{
    SampleUpdate update;
    const Bytes package = ReferencePackage(&update);

    InstallPhaseFaults(package);

    // A read-only, a locked, and an old-format version list that cannot take a payload name: the archives
    // and the uninstall list are updated, the version list stays exactly as it was, and the run says so.
    for (int fault = 0; fault < 3; ++fault) {
        FreshInstallation();
        const std::wstring listPath = game + L"\\kpx.hvl";
        if (fault == 2)
            WriteBytes(listPath, MakeVersionList({{"Archive\\data01200.arc", 1}}, false));
        const Bytes oldList = ReadBytes(listPath);
        UniqueHandle h;
        if (fault == 0)
            SetFileAttributesW(listPath.c_str(), FILE_ATTRIBUTE_READONLY);
        if (fault == 1)
            h.Reset(CreateFileW(listPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        SampleUpdate longNames = update;
        if (fault == 2) {  // a name of 60 bytes does not fit the old format's 56-byte field
            const std::string name(52, 'n');
            longNames.entries[1].name = name + ".arc";
            longNames.entries[0].data = MakeVersionList({{"Archive\\" + name + ".arc", ChecksumOf(update.entries[1].data)}});
            longNames.entries.resize(2);
        }
        EXPECT_EQ(kResultUninstallListFailed, RunInProcess(MakeUpdater(longNames.entries))) << fault;
        h.Reset(nullptr);
        EXPECT_EQ(oldList, ReadBytes(listPath)) << fault;
        EXPECT_EQ(update.entries[1].data, ReadBytes(game + L"\\Archive\\" +
                                                    std::wstring(longNames.entries[1].name.begin(), longNames.entries[1].name.end())));
        EXPECT_NE(std::string::npos, [&] { Bytes b = ReadBytes(game + L"\\uninst.lst"); return std::string(b.begin(), b.end()); }()
                                         .find("archive\\" + (fault == 2 ? std::string(52, 'n') : "data01400") + ".arc\n")) << fault;
        EXPECT_EQ(0, CountTemporaryFiles(TakeSnapshot(game))) << fault;
        ++g_figures.fileSystem;
    }

    // A read-only, and a locked, uninstall list: reported, and left exactly as it was.
    for (int locked = 0; locked < 2; ++locked) {
        FreshInstallation();
        const Bytes oldUninst = ReadBytes(game + L"\\uninst.lst");
        UniqueHandle h;
        if (locked)
            h = HoldAsTheGame(game + L"\\uninst.lst");
        else
            SetFileAttributesW((game + L"\\uninst.lst").c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_EQ(kResultUninstallListFailed, RunInProcess(package));
        h.Reset(nullptr);
        EXPECT_EQ(oldUninst, ReadBytes(game + L"\\uninst.lst"));
        EXPECT_EQ(update.entries[1].data, ReadBytes(game + L"\\Archive\\data01200.arc"));
        EXPECT_EQ(0, CountTemporaryFiles(TakeSnapshot(game)));
        ++g_figures.fileSystem;
    }

    // No "Archive" folder.
    FreshInstallation();
    RemoveTree(game + L"\\Archive");
    const Snapshot noArchive = TakeSnapshot(game);
    EXPECT_EQ(kResultInstallFailed, RunInProcess(package));
    CheckUnchanged(noArchive, "missing Archive folder");
    ++g_figures.fileSystem;
}

namespace {

// True when every record of the installation's version list names a file that has the recorded checksum.
bool ListAgreesWithFiles(const std::wstring& game)
{
    VersionListHeader header;
    std::vector<VersionRecord> records;
    if (!LoadVersionList(header, records, (game + L"\\kpx.hvl").c_str()))
        return false;
    for (const VersionRecord& r : records) {
        std::wstring name;
        if (!MultiByteToWide(r.name.c_str(), name) || !FileExists(game + L"\\" + name) ||
            ChecksumOf(ReadBytes(game + L"\\" + name)) != r.value)
            return false;
    }
    return true;
}

}  // namespace

// Every operation boundary of a whole run of `package`, and of each run whose n-th move fails (its rollback),
// is a place to stop: as a kill, and as a power cut. The package replaces the three installed archives (one
// of them read-only) and adds "data01500.arc".
void FaultCampaign::CrashPointsConverge(const Bytes& package, const std::string& kind)
{
    const std::wstring readOnly = game + L"\\Archive\\data01300.arc";
    auto fresh = [&] {
        FreshInstallation();
        SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    };
    fresh();
    const Snapshot old = TakeSnapshot(game);
    std::vector<SeamOp> cleanOps;
    {
        FaultSeam seam;
        ASSERT_EQ(kResultSuccess, RunInProcess(package));
        cleanOps = seam.ops();
    }
    const Snapshot reference = TakeSnapshot(game);
    auto outside = [&] {
        Snapshot s;
        for (const std::wstring& f : SandboxOutsideGame())
            s[f] = ReadBytes(dir / f);
        return s;
    };
    const Snapshot outsideBefore = outside();
    ASSERT_TRUE(ListAgreesWithFiles(game));
    auto runWith = [&](const FaultPlan& plan) {
        FaultSeam seam(plan);
        RunInProcess(package);
        return seam.ops();
    };
    // The places to stop: (stop after, failing operation or 0).
    std::vector<std::pair<int, int>> places;
    // Up to and with the last: stopped after the run, a power cut must take nothing of the update back.
    for (int n = 0; n <= static_cast<int>(cleanOps.size()); ++n)
        places.push_back({n, 0});
    for (const SeamOp& op : cleanOps) {
        if (op.kind != SeamOp::Rename || !op.replace || op.name == L"kpx.hvl" || op.name == L"uninst.lst")
            continue;  // only the moves of new files in
        fresh();
        FaultPlan failing;
        failing.fail = FailAt({op.index});
        const int total = static_cast<int>(runWith(failing).size());
        for (int n = op.index; n < total; ++n)
            places.push_back({n, op.index});
    }
    auto stopAt = [&](std::pair<int, int> place, bool powerCut) {
        fresh();
        FaultPlan plan;
        plan.stopAfter = place.first;
        plan.powerCut = powerCut;
        if (place.second)
            plan.fail = FailAt({place.second});
        runWith(plan);
    };
    auto converges = [&](const std::string& what) {
        const uint32_t again = RunInProcess(package);
        const bool agrees = ListAgreesWithFiles(game);
        g_figures.listsDisagreeing += !agrees;
        if (again == kResultSuccess && TakeSnapshot(game) == reference && agrees)
            return true;
        ADD_FAILURE() << what << ": the re-run did not converge (" << std::hex << again << ")";
        return false;
    };
    for (const auto& place : places) {
        const std::string what = kind + "stopped after operation " + std::to_string(place.first) +
                                 (place.second ? " of a run whose operation " + std::to_string(place.second) + " failed" : "");
        stopAt(place, false);
        ++g_figures.crashPoints;
        JudgeStopped(TakeSnapshot(game), old, reference, what);
        if (outside() != outsideBefore) {
            ++g_figures.writesOutside;
            ADD_FAILURE() << what << ": something outside the installation changed";
        }
        g_figures.crashConverged += converges(what);

        // A second run that fails (its first move of a new file) leaves a whole installation whose version
        // list tells the truth: the old one, with a file this update adds perhaps already there, or, once the
        // stopped run had saved the new version list, the new one.
        stopAt(place, false);
        {
            FaultPlan plan;
            bool failed = false;
            plan.fail = [&failed](const SeamOp& op) {
                return op.kind == SeamOp::Rename && op.replace && !failed && (failed = true);
            };
            FaultSeam seam(plan);
            EXPECT_EQ(kResultInstallFailed, RunInProcess(package)) << what;
        }
        ++g_figures.failedReruns;
        Snapshot now = TakeSnapshot(game);
        const bool agrees = ListAgreesWithFiles(game);
        g_figures.listsDisagreeing += !agrees;
        // The files this update adds, none of them replacing one, may stand already.
        Snapshot wholeOld = old, wholeNew = reference;
        for (const auto& f : reference)
            if (!old.count(f.first)) {
                now.erase(f.first);
                wholeNew.erase(f.first);
            }
        if (now[L"uninst.lst"] == old.at(L"uninst.lst"))
            wholeNew[L"uninst.lst"] = old.at(L"uninst.lst");  // stopped between the two lists' saves
        if (!agrees || (now != wholeOld && now != wholeNew)) {
            ++g_figures.changedOnFailure;
            std::string differs;
            for (const auto& f : now)
                if (!wholeOld.count(f.first) || wholeOld.at(f.first) != f.second)
                    differs += " " + std::string(f.first.begin(), f.first.end());
            ADD_FAILURE() << what << ": a failed re-run left neither the old nor the new installation (against the old:"
                          << differs << (agrees ? "" : "; the version list disagrees with the files") << ")";
        }

        stopAt(place, true);
        ++g_figures.powerCuts;
        const Snapshot cut = TakeSnapshot(game);
        JudgeStopped(cut, old, reference, what + ", power cut");
        if (place.first == static_cast<int>(cleanOps.size()) && !place.second && (cut != reference || !ListAgreesWithFiles(game)))
            ADD_FAILURE() << kind << "a power cut after the run took back some of the update it reported";
        g_figures.powerConverged += converges(what + ", power cut");
    }
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FaultCampaign, EveryCrashPointAndPowerCutConverges)
{
    // The standard package: the archives whole, and both lists.
    CrashPointsConverge(MakeUpdater(MakeSampleUpdate(4, 700, 53).entries), "");
    // The same update as a delta package: each installed archive patched from the original that is kept
    // aside until the lists are saved, the new one whole.
    const Figures before = g_figures;
    CrashPointsConverge(DeltaReferencePackage(), "delta package, ");
    g_figures.deltaCrashPoints = g_figures.crashPoints - before.crashPoints;
    g_figures.deltaCrashConverged = g_figures.crashConverged - before.crashConverged;
    g_figures.deltaPowerConverged = g_figures.powerConverged - before.powerConverged;
    // A compressed package: the copies and patches read zstd frames.
    const Figures beforeZstd = g_figures;
    CrashPointsConverge(CompressedReferencePackage(), "compressed package, ");
    g_figures.zstdCrashPoints = g_figures.crashPoints - beforeZstd.crashPoints;
    g_figures.zstdCrashConverged = g_figures.crashConverged - beforeZstd.crashConverged;
    g_figures.zstdPowerConverged = g_figures.powerConverged - beforeZstd.powerConverged;
    // Power cuts mid-run take back the renames no folder flush had committed yet: a model that never takes
    // one back tests nothing of the flushes.
    EXPECT_GT(FaultSeam::TakenBack(), 0) << "no power cut took back a rename";
}

TEST_F(FaultCampaign, FullDiskKeepsTheInstallationWhole)
{
    if (GetFileAttributesW(L"T:\\") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no small disk T: (mounting a tmpfs was not allowed here): full-disk faults skipped";
    const std::wstring smallGame = L"T:\\game";
    RemoveTree(smallGame);
    MakeDir(smallGame);
    MakeInstallation(smallGame, kOldArchives);
    const Snapshot before = TakeSnapshot(smallGame);
    // More than the 2 MiB disk holds: a write of the copy phase comes up short.
    SampleUpdate update = MakeSampleUpdate(3, 1024 * 1024, 5);
    WriteBytes(dir / L"package.bin", MakeUpdater(update.entries));
    EXPECT_EQ(kResultInstallFailed, HoldAndRunUpdate(smallGame.c_str(), (dir / L"package.bin").c_str()));
    const Snapshot after = TakeSnapshot(smallGame);
    EXPECT_EQ(before, after);
    g_figures.tempsLeft += CountTemporaryFiles(after);
    if (before != after)
        ++g_figures.changedOnFailure;
    ++g_figures.fileSystem;

    // Nearly full: the archives fit, the new uninstall list does not; the old one stays whole.
    RemoveTree(smallGame);
    MakeDir(smallGame);
    MakeInstallation(smallGame, kOldArchives);
    SampleUpdate small = MakeSampleUpdate(3, 1000, 6);
    WriteBytes(dir / L"package.bin", MakeUpdater(small.entries));
    const Bytes oldUninst = ReadBytes(smallGame + L"\\uninst.lst"), oldList = ReadBytes(smallGame + L"\\kpx.hvl");
    {
        // The disk filled to the last page, then room given back for the three copies alone (a page each,
        // as the tmpfs counts): the lists' new files find none.
        const UniqueHandle fill(CreateFileW(L"T:\\filler", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        Bytes block(4096, 0xAA);
        DWORD written = 0;
        LARGE_INTEGER size{};
        while (WriteFile(fill.Get(), block.data(), 4096, &written, nullptr) && written == 4096)
            size.QuadPart += 4096;
        size.QuadPart -= 3 * 4096;
        ASSERT_TRUE(size.QuadPart > 0 && SetFilePointerEx(fill.Get(), size, nullptr, FILE_BEGIN) && SetEndOfFile(fill.Get()));
    }
    const uint32_t result = HoldAndRunUpdate(smallGame.c_str(), (dir / L"package.bin").c_str());
    EXPECT_EQ(kResultUninstallListFailed, result) << std::hex << result;
    for (size_t i = 1; i < small.entries.size(); ++i)
        EXPECT_TRUE(ReadBytes(smallGame + L"\\Archive\\" + std::wstring(small.entries[i].name.begin(), small.entries[i].name.end())) ==
                    small.entries[i].data) << small.entries[i].name << ": the archives fit and are installed";
    const Bytes uninst = ReadBytes(smallGame + L"\\uninst.lst");
    EXPECT_TRUE(uninst == oldUninst) << "the uninstall list was rewritten on a full disk";
    EXPECT_TRUE(ReadBytes(smallGame + L"\\kpx.hvl") == oldList) << "the version list was rewritten on a full disk";
    ++g_figures.fileSystem;
    DeleteFileW(L"T:\\filler");
    RemoveTree(smallGame);
}

TEST_F(FaultCampaign, KilledRunsNeverTearAFileAndARerunConverges)
{
    // A real updater, killed at a spread of moments through its copy and install phases; then a delta
    // updater, killed through its patching and install phases; then a compressed one, killed while it
    // decompresses.
    for (const int kind : {0, 1, 2}) {
        const bool delta = kind == 1, compress = kind == 2;
        UserScript script;
        Snapshot old, reference;
        Transcript clean;
        ASSERT_TRUE(FirstRealRun(6 << 20, 77, script, old, reference, clean, delta, compress));
        const Figures before = g_figures;
        KillSpread(script, old, reference, clean, kind ? 12 : 36, delta ? "delta, " : compress ? "compressed, " : "");
        int& kills = delta ? g_figures.deltaKills : g_figures.zstdKills;
        int& converged = delta ? g_figures.deltaConverged : g_figures.zstdConverged;
        int& reruns = delta ? g_figures.deltaReruns : g_figures.zstdReruns;
        if (kind) {
            kills += g_figures.kills - before.kills;
            converged += g_figures.converged - before.converged;
            reruns += g_figures.reruns - before.reruns;
        }
    }
    bases.clear();
    ForgetInstallation();
}

void FaultCampaign::KillSpread(UserScript& script, const Snapshot& old, const Snapshot& reference, const Transcript& clean,
                               int kRuns, const std::string& kind)
{
    const DWORD span = static_cast<DWORD>(clean.updateSeconds * 1000) + 20;
    for (int k = 0; k < kRuns; ++k) {
        FreshInstallation();
        script.killAfterMs = 1 + span * k / kRuns;
        Transcript t = RunAsUser(script);
        // A kill counts only when it stopped a run at work: one that landed on the final box (or after the end)
        // stopped nothing. The question is the only box a run at work has shown.
        const bool stoppedARun = t.killed && t.boxes.size() <= 1;
        g_figures.kills += stoppedARun;
        if (!stoppedARun)
            printf("%skill at %lu ms came after the run had finished: not counted\n", kind.c_str(),
                   static_cast<unsigned long>(script.killAfterMs));
        CountOutcome(t);
        JudgeStopped(TakeSnapshot(game), old, reference, kind + "kill at " + std::to_string(script.killAfterMs) + " ms");
        // A second, uninterrupted run leaves what one clean run leaves, leftovers of the killed run included.
        script.killAfterMs = 0;
        Transcript again = RunAsUser(script);
        ++g_figures.reruns;
        CountOutcome(again);
        const Snapshot converged = TakeSnapshot(game);
        if (again.exitCode == 0 && converged == reference)
            ++g_figures.converged;
        else
            ADD_FAILURE() << kind << "kill at " << 1 + span * k / kRuns << " ms: the re-run did not converge\n" << Describe(again);
    }
}

TEST_F(FaultCampaign, HostileNamesAreRefusedWithNothingWrittenOutside)
{
    const std::vector<std::wstring> outside = [&] { FreshInstallation(); return SandboxOutsideGame(); }();
    for (const std::string& name : kHostileNames) {
        for (int asRecord = 0; asRecord < 2; ++asRecord) {
            FreshInstallation();
            const Snapshot before = TakeSnapshot(game);
            Bytes evil = ToBytes("evil");
            const std::vector<FakeEntry> entries =
                asRecord ? std::vector<FakeEntry>{{"KPX.hvl", MakeVersionList({{name, ChecksumOf(evil)}})},
                                                  {HostileFileName(name), evil}}
                         : std::vector<FakeEntry>{{name, evil}};
            const uint32_t result = RunInProcess(MakeUpdater(entries));
            ++g_figures.hostile;
            CompareWithVerify(dir / L"package.bin", result, name);
            EXPECT_TRUE(IsResultCode(result)) << name;
            if (result != 0)
                CheckUnchanged(before, name.c_str());
            else
                CheckInstalledAsThePackageSays(ReadBytes(dir / L"package.bin"), before, name.c_str());
            std::vector<std::wstring> nowOutside = SandboxOutsideGame();
            nowOutside.erase(std::remove(nowOutside.begin(), nowOutside.end(), L"package.bin"), nowOutside.end());
            EXPECT_EQ(outside, nowOutside) << name;
            EXPECT_FALSE(FileExists(L"C:\\x.arc")) << name;
        }
    }
    // Names too long for their fields, and bytes that are not Shift-JIS: the index is damaged.
    for (const std::string& name : {std::string(200, 'n'), std::string("\x81\x20.arc"), std::string("\xFF\xFF")}) {
        FreshInstallation();
        const Snapshot before = TakeSnapshot(game);
        Bytes package = MakeUpdater({{"placeholder", ToBytes("x")}});
        memcpy(package.data() + kPayloadOffset + 16, name.data(), std::min<size_t>(name.size(), 128));
        const uint32_t result = RunInProcess(package);
        ++g_figures.hostile;
        CompareWithVerify(dir / L"package.bin", result, "unreadable name");
        EXPECT_TRUE(result == kResultUnreadable || result == kResultDamaged) << std::hex << result;
        CheckUnchanged(before, "unreadable name");
    }
    // Two entries for the same file, in any spelling, or one entry's target that is a name the updater
    // writes beside another target or beside the lists: refused before anything is replaced, by the updater
    // and by verify alike.
    const std::vector<std::vector<FakeEntry>> doubles = {
        {{"same.arc", ToBytes("one")}, {"SAME.ARC", ToBytes("two")}},
        {{"a.arc", ToBytes("one")}, {"a.arc.tmp", ToBytes("two")}},
        {{"Archive/x.arc", ToBytes("one")}, {"Archive\\x.arc", ToBytes("two")}},
        {{"KPX.hvl", MakeVersionList({{"Archive\\data01200.arc", ChecksumOf(ToBytes("one"))}})},
         {"data01200.arc", ToBytes("one")}, {"Archive/DATA01200.arc", ToBytes("two")}},
        // Names the updater writes beside a target or beside the lists.
        {{"a.arc", ToBytes("one")}, {"A.ARC.TMP.NEW", ToBytes("two")}},
        {{"ok.arc", ToBytes("one")}, {"kpx.hvl.new", ToBytes("two")}},
        {{"ok.arc", ToBytes("one")}, {"Uninst.lst.NEW", ToBytes("two")}},
        {{"ok.arc", ToBytes("one")}, {"kpx.hvl.new.new", ToBytes("two")}}};
    for (const auto& entries : doubles) {
        FreshInstallation();
        const Snapshot before = TakeSnapshot(game);
        const uint32_t result = RunInProcess(MakeUpdater(entries));
        EXPECT_EQ(kResultDamaged, result) << entries[1].name;
        CompareWithVerify(dir / L"package.bin", result, entries[1].name);
        CheckUnchanged(before, "two entries for one file");
        ++g_figures.hostile;
    }
}

TEST_F(FaultCampaign, PlantedLinksNeverLeadAWriteOutside)
{
    // Any user may plant links in a folder below the system drive's root before the elevated updater runs.
    SampleUpdate update;
    const Bytes package = ReferencePackage(&update);
    const std::wstring outside = dir / L"outside";
    struct Case {
        const wchar_t* at;  // the name that is a link, below the installation
        uint32_t expected;
        const char* what;
        bool inside = false;  // the link leads to a file inside the installation
    } cases[] = {
        {L"Archive\\data01200.arc.tmp", kResultSuccess, "a temporary file: replaced, not written through"},
        {L"Archive\\data01400.arc.tmp", kResultSuccess, "a temporary file whose link leads nowhere"},
        {L"kpx.hvl.new", kResultSuccess, "the version list's temporary file"},
        {L"uninst.lst.new", kResultSuccess, "the uninstall list's temporary file"},
        {L"Archive\\data01300.arc", kResultSuccess, "a target: the move replaces the link"},
        {L"Archive\\data01300.arc.kept", kResultInstallFailed, "the name a target is kept aside under"},
        {L"kpx.hvl", kResultUninstallListFailed, "the version list: neither read nor replaced"},
        {L"uninst.lst", kResultUninstallListFailed, "the uninstall list: neither read nor replaced"},
        {L"kpx.hvl", kResultUninstallListFailed, "the version list linked inside: neither read nor replaced", true},
        {L"uninst.lst", kResultUninstallListFailed, "the uninstall list linked inside: neither read nor replaced", true},
        {L"Archive", kResultInstallFailed, "a subfolder that leads outside"},
    };
    for (const Case& c : cases) {
        FreshInstallation();
        RemoveTree(outside);
        MakeDir(outside);
        const std::wstring at = game + L"\\" + c.at;
        std::wstring target = (c.inside ? game : outside) + L"\\victim";
        if (wcscmp(c.at, L"Archive") == 0) {
            target = outside + L"\\Archive";
            MakeDir(target);
            for (const std::wstring& f : ListFiles(game + L"\\Archive"))
                WriteBytes(target + L"\\" + f, ReadBytes(game + L"\\Archive\\" + f));
            RemoveTree(at);
        } else if (wcsstr(c.at, L"data01400")) {
            target = outside + L"\\nothing-here";
        } else {
            // The victim holds what the name held, so a followed link would be read as the real thing.
            WriteBytes(target, FileExists(at) ? ReadBytes(at) : ToBytes("the victim's own bytes"));
            EXPECT_TRUE(DeleteFileW(at.c_str()) || !FileExists(at)) << GetLastError();
        }
        ASSERT_TRUE(PlantLink(at, target)) << c.what;
        const Bytes victim = ReadBytes(target);
        const Snapshot before = TakeSnapshot(game), outsideBefore = TakeSnapshot(outside);
        const uint32_t result = RunInProcess(package);
        ++g_figures.links;
        EXPECT_EQ(c.expected, result) << c.what << ": " << std::hex << result;
        if (TakeSnapshot(outside) != outsideBefore || FileExists(outside + L"\\nothing-here")) {
            ++g_figures.writesOutside;
            ADD_FAILURE() << c.what << ": something outside the installation changed";
        }
        if (c.expected == kResultUninstallListFailed) {
            // The link still leads to what it led to, and that is as it was.
            EXPECT_EQ(victim, ReadBytes(target)) << c.what;
            EXPECT_EQ(victim, ReadBytes(at)) << c.what;
        }
        if (result == kResultSuccess) {
            for (size_t i = 0; i < kOldArchives.size(); ++i)
                EXPECT_EQ(update.entries[i + 1].data, ReadBytes(game + L"\\Archive\\" +
                                                                std::wstring(kOldArchives[i].begin(), kOldArchives[i].end())))
                    << c.what;
        } else if (result == kResultInstallFailed && TakeSnapshot(game) != before) {
            ++g_figures.changedOnFailure;
            ADD_FAILURE() << c.what << ": the installation changed on a failed run";
        }
        // Only what this run left counts: a planted link may itself carry a temporary file's name.
        const int temps = std::max(0, CountTemporaryFiles(TakeSnapshot(game)) + CountTemporaryFiles(TakeSnapshot(outside)) -
                                          CountTemporaryFiles(before) - CountTemporaryFiles(outsideBefore));
        g_figures.tempsLeft += temps;
        EXPECT_EQ(0, temps) << c.what;
        // Remove the link as a link before the next fresh installation, which would follow it.
        RemoveLink(at);
    }
}

TEST_F(FaultCampaign, HostileUninstallListsStayWellFormed)
{
    SampleUpdate update;
    const Bytes package = ReferencePackage(&update);
    const std::string longLine(100 * 1024, 'L');
    const std::vector<std::string> lists = {
        std::string("a\0hidden\r\nb", 12), longLine + "\r\n" + longLine + "x", "no line end at all",
        "\x81\x20\r\n\xFF\xFE\r\n\xE3\x81\r\n", "\r\n\r\n\t \r\n", std::string(3, '\0'), "$only\r\n$dollars"};
    for (const std::string& list : lists) {
        FreshInstallation();
        WriteText(game + L"\\uninst.lst", list);
        EXPECT_EQ(kResultSuccess, RunInProcess(package));
        ++g_figures.hostile;
        const Bytes written = ReadBytes(game + L"\\uninst.lst");
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(0, written.back());
        const std::string text(written.begin(), written.end() - 1);
        EXPECT_EQ(std::string::npos, text.find('\r'));
        EXPECT_EQ(std::string::npos, text.find('\0'));
        EXPECT_NE(std::string::npos, text.find("archive\\data01400.arc\n"));
        // Written whole: reading it again gives the same lines.
        UninstallGroups again;
        ParseUninstallList(text.c_str(), again);
        EXPECT_EQ(text + std::string(1, '\0'), FormatUninstallList(again));
    }
}

TEST_F(FaultCampaign, HostileRegistryValuesGetAClearBox)
{
    WriteBytes(dir / L"ship.arc", Bytes(10, 1));
    BuildOptions options;
    options.image = FromUnixPath(UPDATER_EXE);
    options.title = "Fault Campaign Updater";
    options.output = dir / L"update.exe";
    options.files.push_back({dir / L"ship.arc", L"ship.arc"});
    std::string error;
    ASSERT_TRUE(BuildUpdater(options, error)) << error;
    struct Case {
        const char* what;
        std::wstring data;
        bool terminated;
        DWORD exitCode;
    } cases[] = {{"empty", L"", true, static_cast<DWORD>(-1)},
                 {"two quotes", L"\"\"", true, static_cast<DWORD>(-1)},
                 {"relative", L"game", true, static_cast<DWORD>(-1)},
                 {"longer than the buffer", std::wstring(5000, L'a'), true, static_cast<DWORD>(-1)},
                 {"unterminated", game, false, 0}};
    FreshInstallation();
    for (const Case& c : cases) {
        ASSERT_TRUE(SetInstalledFolderValue(
            c.data.c_str(), static_cast<uint32_t>((c.data.size() + (c.terminated ? 1 : 0)) * sizeof(wchar_t))));
        UserScript script;
        script.updater = options.output;
        Transcript t = RunAsUser(script);
        ++g_figures.hostile;
        CountOutcome(t);
        EXPECT_EQ(c.exitCode, t.exitCode) << c.what << "\n" << Describe(t);
        ASSERT_FALSE(t.boxes.empty()) << c.what;
        if (c.exitCode != 0) {
            EXPECT_EQ(L"The game is not installed.", t.boxes.back().info.text) << c.what;
        }
        EXPECT_FALSE(FileExists(L"C:\\ship.arc")) << c.what;
        EXPECT_FALSE(FileExists(L"C:\\kpx.hvl")) << c.what;
    }
    ForgetInstallation();
}

namespace {

// A folder of the attacker's own, holding a file under every name the updater writes or replaces in the
// folder it would stand in for.
void MakeDecoy(const std::wstring& folder, const std::vector<std::wstring>& names)
{
    RemoveTree(folder);
    MakeDir(folder);
    for (const std::wstring& name : names)
        for (const wchar_t* suffix : {L"", L".tmp", L".kept", L".new"})
            WriteText(folder + L"\\" + name + suffix, "the attacker's own bytes");
}

std::vector<std::wstring> ArchiveNames()
{
    std::vector<std::wstring> names;
    for (const std::string& a : kOldArchives)
        names.push_back(std::wstring(a.begin(), a.end()));
    return names;
}

}  // namespace

TEST_F(FaultCampaign, RacingUsersNeverRedirectAWrite)
{
    // While real updater runs copy and install three archives of 96 MiB (then patch them, from a delta
    // updater), a second Windows program keeps trying to rename the game folder and its "Archive" folder
    // away and move folders of its own in.
    UserScript script;
    Snapshot old, reference;
    Transcript clean;
    const std::wstring decoyGame = dir / L"decoy-game", decoyArchive = dir / L"decoy-archive";
    const std::wstring stop = dir / L"stop", figures = dir / L"figures.txt";
    std::vector<std::wstring> gameNames = {L"kpx.hvl", L"uninst.lst"};
    for (const std::wstring& a : ArchiveNames())
        gameNames.push_back(L"Archive\\" + a);
    // Everything outside the installation: the decoys, where a redirected write would land, byte for byte; the
    // shipped files and the package (hundreds of MiB, read twice a run otherwise) by size and last write, which
    // any write changes.
    auto outside = [&] {
        Snapshot s;
        for (const std::wstring& f : ListFiles(dir.path())) {
            if (f.compare(0, 5, L"game\\") == 0 || f == L"figures.txt")
                continue;
            WIN32_FILE_ATTRIBUTE_DATA data = {};
            const std::wstring path = dir / f;
            const bool decoy = path.compare(0, decoyGame.size() + 1, decoyGame + L"\\") == 0 ||
                               path.compare(0, decoyArchive.size() + 1, decoyArchive + L"\\") == 0;
            if (decoy || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
                s[Folded(f)] = ReadBytes(path);
            else
                s[Folded(f)] = ToBytes(std::to_string(data.nFileSizeLow) + " " + std::to_string(data.nFileSizeHigh) + " " +
                                       std::to_string(data.ftLastWriteTime.dwLowDateTime) + " " +
                                       std::to_string(data.ftLastWriteTime.dwHighDateTime));
        }
        return s;
    };
    unsigned long totalAttempts = 0;
    double seconds = 0;
    for (int run = 0; run < 26; ++run) {
        // Twenty runs of the updater of whole files, then six of the delta updater.
        const bool delta = run >= 20;
        if (run == 0 || run == 20) {
            RemoveTree(dir / L"ship");
            ASSERT_TRUE(FirstRealRun(96 << 20, 91, script, old, reference, clean, delta));
        }
        FreshInstallation();
        MakeDecoy(decoyGame, gameNames);
        MakeDecoy(decoyArchive, ArchiveNames());
        DeleteFileW(stop.c_str());
        DeleteFileW(figures.c_str());
        const Snapshot outsideBefore = outside();
        std::unique_ptr<ChildProcess> attacker;
        script.beforeAnswer = [&] {
            attacker.reset(new ChildProcess(L"\"" + FromUnixPath(RACE_ATTACKER_EXE) + L"\" \"" + stop + L"\" \"" +
                                            figures + L"\" \"" + game + L"\\Archive\" \"" + decoyArchive + L"\" \"" +
                                            game + L"\" \"" + decoyGame + L"\""));
            EXPECT_TRUE(attacker->Started()) << "error " << attacker->StartError();
        };
        // The folders are held until the final box is answered: the race ends there.
        script.beforeFinalAnswer = [&] {
            WriteText(stop, "stop");
            EXPECT_EQ(0u, attacker->Wait(30000));
        };
        const Transcript t = RunAsUser(script);
        ASSERT_TRUE(attacker);
        attacker.reset();
        const Bytes said = ReadBytes(figures);
        unsigned long attempts = 0, moved = 0;
        EXPECT_EQ(2, sscanf(std::string(said.begin(), said.end()).c_str(), "%lu %lu", &attempts, &moved));
        ++g_figures.races;
        CountOutcome(t);
        const std::string what = (delta ? "delta race " : "race ") + std::to_string(run);
        g_figures.deltaRaces += delta;
        EXPECT_GT(attempts, 0ul) << what;
        totalAttempts += attempts;
        seconds += t.updateSeconds;
        EXPECT_EQ(0ul, moved) << what << ": the attacker moved a held folder";
        DeleteFileW(stop.c_str());
        if (outside() != outsideBefore) {
            ++g_figures.raceWritesOutside;
            ADD_FAILURE() << what << ": something outside the installation changed";
        }
        if (t.exitCode != 0 || TakeSnapshot(game) != reference) {
            ++g_figures.mixed;
            ADD_FAILURE() << what << ": not the wholly new installation\n" << Describe(t);
        }
    }
    script.beforeAnswer = nullptr;
    script.beforeFinalAnswer = nullptr;
    printf("races: %lu renames tried during %.1f s of updating\n", totalAttempts, seconds);
    // The Unix-level swaps below run the updater of whole files again.
    bases.clear();
    RemoveTree(dir / L"ship");
    RemoveTree(dir / L"base");
    ASSERT_TRUE(FirstRealRun(96 << 20, 91, script, old, reference, clean));

    // A Unix process ignores Windows share modes: it swaps "Archive" for a link to its own folder while the
    // question waits. Under Wine a rename through a held handle still resolves its names by path, so only
    // the updater's own checks stand between the swap and the decoy: the run must refuse (0x80000004) or
    // install, and the decoy must stay as it was.
    for (int run = 0; run < 3; ++run) {
        FreshInstallation();
        MakeDecoy(decoyArchive, ArchiveNames());
        const Snapshot decoyBefore = TakeSnapshot(decoyArchive);
        const std::wstring archive = game + L"\\Archive", away = game + L"\\Archive.away";
        // Counted only when it happened: "Archive" stands as a link when the question is answered.
        bool swapped = false;
        script.beforeAnswer = [&] {
            swapped = RunUnixOn(L"mv \"$1\" \"$2\" && ln -s \"$3\" \"$1\" && test -L \"$1\"", {archive, away, decoyArchive});
            EXPECT_TRUE(swapped) << "the swap did not happen";
        };
        const Transcript t = RunAsUser(script);
        g_figures.unixSwaps += swapped;
        CountOutcome(t);
        EXPECT_TRUE(t.finished) << Describe(t);
        EXPECT_TRUE(t.exitCode == kResultInstallFailed || t.exitCode == kResultSuccess) << Describe(t);
        if (TakeSnapshot(decoyArchive) != decoyBefore) {
            ++g_figures.unixReachedOutside;
            ADD_FAILURE() << "the swap carried a write into the decoy folder outside the installation";
        }
        g_figures.unixRefused += t.exitCode == kResultInstallFailed;
        RemoveLink(archive);
    }
    ForgetInstallation();
}
