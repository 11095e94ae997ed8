// The package builder run as a user runs it: the layout it writes, list and verify, and every refusal.
#include <gtest/gtest.h>

#include <windows.h>

#include <random>

#include "archive/read_le.h"
#include "tests/package_factory.h"
#include "tools/package_reader.h"
#include "update/package/package_layout.h"
#include "util/base/handles_win.h"

namespace {

const uint32_t kShippedSizes[] = {0x17F9, 0x24F5, 0x41240, 0x21339, 0x1A166, 0x8635, 0x23D92};
const char* const kShippedNames[] = {"data01200.arc", "data01300.arc", "data01510.arc", "data01520.arc",
                                     "data01530.arc", "data01540.arc", "data01550.arc"};
const uint32_t kShippedOffsets[] = {0x710, 0x1F09, 0x43FE, 0x4563E, 0x66977, 0x80ADD, 0x89112};

class PackageBuilderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        image = RandomBytes(200000, 1);
        ASSERT_TRUE(WriteBytes(dir / L"image.exe", image));
        MakeDir(dir / L"ship");
        MakeDir(dir / L"ship\\Archive");
    }
    ProcessResult Mkupdate(const std::wstring& args)
    {
        return RunProgram(L"\"" + FromUnixPath(MKUPDATE_EXE) + L"\" " + args);
    }
    ProcessResult Build(const std::wstring& extra, const std::wstring& title = L"Test Updater ver 1.01")
    {
        return Mkupdate(L"build --quiet --image \"" + (dir / L"image.exe") + L"\" --title \"" + title +
                        L"\" --output \"" + Out() + L"\" " + extra);
    }
    std::wstring Out() { return dir / L"updater.exe"; }
    std::wstring Ship() { return L"--files \"" + (dir / L"ship") + L"\""; }
    void ExpectRefused(const ProcessResult& r, const char* why)
    {
        EXPECT_TRUE(r.finished) << why;
        EXPECT_EQ(1u, r.exitCode) << why << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find("mkupdate: ")) << why;
        EXPECT_FALSE(FileExists(Out())) << why;
        EXPECT_FALSE(FileExists(Out() + L".partial")) << why;
    }
    std::vector<Bytes> ShipTheTable()
    {
        std::vector<Bytes> contents;
        for (int i = 0; i < 7; ++i) {
            contents.push_back(RandomBytes(kShippedSizes[i], 100 + i));
            std::wstring name(kShippedNames[i], kShippedNames[i] + strlen(kShippedNames[i]));
            EXPECT_TRUE(WriteBytes(dir / (L"ship\\Archive\\" + name), contents.back()));
        }
        return contents;
    }
    TempDir dir;
    Bytes image;
};

}  // namespace

TEST_F(PackageBuilderTest, ShippedPayloadTableComesOutExactly)
{
    std::vector<Bytes> contents = ShipTheTable();
    ProcessResult r = Build(Ship(), L"\u300C\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066\u300D Updater ver 1.01");
    ASSERT_EQ(0u, r.exitCode) << r.output;

    UpdaterContents c;
    std::string error;
    ASSERT_TRUE(ReadUpdaterFile(Out(), c, error)) << error;
    ASSERT_EQ(8u, c.entries.size());
    EXPECT_EQ("KPX.hvl", c.entries[0].name);
    EXPECT_EQ(0u, c.storedOffsets[0]);
    EXPECT_EQ(0x710u, c.entries[0].size);
    EXPECT_EQ(0xA0810u, kPayloadOffset + c.entries[0].position);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(kShippedNames[i], c.entries[i + 1].name);
        EXPECT_EQ(kShippedOffsets[i], c.storedOffsets[i + 1]);
        EXPECT_EQ(kShippedSizes[i], c.entries[i + 1].size);
        EXPECT_EQ(std::string("Archive\\") + kShippedNames[i], c.records[i].name);
        EXPECT_EQ(ChecksumOf(contents[i]), c.records[i].value);
    }
    ASSERT_TRUE(c.hasVersionList);
    EXPECT_EQ(0, memcmp(c.versionHeader.magic, "KHV_V2__", 8));
    EXPECT_EQ(0u, c.versionHeader.reserved);
    EXPECT_EQ("\xE3\x80\x8C\xE7\xA1\x9D\xE5\xAD\x90\xE3\x81\xAE\xE7\xBE\xBD\xE3\x82\x92\xE6\x95\xB0\xE3\x81\x88\xE3"
              "\x81\xA6\xE3\x80\x8D Updater ver 1.01",
              c.title);

    Bytes file = ReadBytes(Out());
    // The last entry ends at the file's last byte.
    EXPECT_EQ(0xA0810u + 0x89112 + 0x23D92, file.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), file.begin()));
    EXPECT_TRUE(std::all_of(file.begin() + image.size(), file.begin() + kTitleBlockOffset, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(0x81, file[kTitleBlockOffset]);  // the title block holds Shift-JIS: U+300C is 0x81 0x75
    EXPECT_EQ(0x75, file[kTitleBlockOffset + 1]);
    for (int i = 0; i < 8; ++i) {
        const uint8_t* rec = file.data() + kPayloadOffset + 16 + i * 128;
        EXPECT_TRUE(std::all_of(rec + 104, rec + 128, [](uint8_t b) { return b == 0; })) << i;
    }
    EXPECT_TRUE(std::equal(contents[6].begin(), contents[6].end(), file.end() - contents[6].size()));

    ProcessResult verify = Mkupdate(L"verify \"" + Out() + L"\"");
    EXPECT_EQ(0u, verify.exitCode) << verify.output;
    ProcessResult list = Mkupdate(L"list \"" + Out() + L"\"");
    EXPECT_EQ(0u, list.exitCode);
    EXPECT_NE(std::string::npos, list.output.find("entry data01550.arc"));
    EXPECT_NE(std::string::npos, list.output.find("offset 0x00089112  size 0x00023D92"));
    EXPECT_NE(std::string::npos, list.output.find("record Archive\\data01200.arc"));
}

TEST_F(PackageBuilderTest, SameInputsGiveByteIdenticalOutput)
{
    ShipTheTable();
    ASSERT_EQ(0u, Build(Ship()).exitCode);
    Bytes first = ReadBytes(Out());
    ASSERT_EQ(0u, Build(Ship() + L" ").exitCode);
    EXPECT_EQ(first, ReadBytes(Out()));
}

TEST_F(PackageBuilderTest, VerifyFindsFlippedBytesTruncationAndDamagedIndexes)
{
    ShipTheTable();
    ASSERT_EQ(0u, Build(Ship()).exitCode);
    const Bytes good = ReadBytes(Out());
    UpdaterContents c;
    std::string error;
    ASSERT_TRUE(ReadUpdaterFile(Out(), c, error));
    auto verifyWith = [&](const Bytes& bytes) {
        EXPECT_TRUE(WriteBytes(dir / L"bad.exe", bytes));
        return Mkupdate(L"verify \"" + (dir / L"bad.exe") + L"\"");
    };
    for (size_t i = 0; i < c.entries.size(); ++i) {
        Bytes bad = good;
        // In the version list, a record's checksum; in an archive, a byte of its data.
        bad[kPayloadOffset + c.entries[i].position + (i == 0 ? 16 + 3 * 256 + 248 : c.entries[i].size / 2)] ^= 0x01;
        ProcessResult r = verifyWith(bad);
        EXPECT_EQ(1u, r.exitCode) << c.entries[i].name;
        EXPECT_NE(std::string::npos, r.output.find("mkupdate: ")) << r.output;
    }
    Bytes cut(good.begin(), good.end() - 1);
    EXPECT_NE(std::string::npos, verifyWith(cut).output.find("past the end"));
    Bytes badMagic = good;
    badMagic[kPayloadOffset] = 'v';
    EXPECT_EQ(1u, verifyWith(badMagic).exitCode);
    Bytes badName = good;
    badName[kPayloadOffset + 16 + 3 * 128 + 4] ^= 0x20;  // a name in the index changes its case... and more
    badName[kPayloadOffset + 16 + 3 * 128 + 5] = 'Z';
    EXPECT_NE(std::string::npos, verifyWith(badName).output.find("names no entry"));
    Bytes badSize = good;
    badSize[kPayloadOffset + 16 + 2 * 128 + 100] ^= 0x10;
    EXPECT_EQ(1u, verifyWith(badSize).exitCode);
    Bytes tooMany = good;
    WriteU32(tooMany.data() + kPayloadOffset + 12, 257);
    EXPECT_EQ(1u, verifyWith(tooMany).exitCode);
    EXPECT_EQ(1u, verifyWith(Bytes(good.begin(), good.begin() + kPayloadOffset - 1)).exitCode);
    // A version list whose count reaches into the next entry's bytes: list shows no records the updater
    // refuses, it refuses with verify's words.
    Bytes longList = good;
    WriteU32(longList.data() + kPayloadOffset + c.entries[0].position + 12, c.versionHeader.count + 1);
    for (const wchar_t* command : {L"verify", L"list"}) {
        ASSERT_TRUE(WriteBytes(dir / L"bad.exe", longList));
        const ProcessResult r = Mkupdate(std::wstring(command) + L" \"" + (dir / L"bad.exe") + L"\"");
        EXPECT_EQ(1u, r.exitCode) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("version list \"KPX.hvl\" is damaged")) << r.output;
    }

    // What the updater refuses, verify refuses; what it installs unchecked, verify accepts and says so.
    const Bytes one = ToBytes("one"), two = ToBytes("two");
    for (const auto& entries : std::vector<std::vector<FakeEntry>>{{{"a.arc", one}, {"A.arc", two}},
                                                                   {{"a.arc", one}, {"a.arc.tmp", two}}}) {
        ProcessResult r = verifyWith(MakeUpdater(entries));
        EXPECT_EQ(1u, r.exitCode) << entries[1].name;
        EXPECT_NE(std::string::npos, r.output.find("reach the same file")) << r.output;
    }
    ProcessResult noList = verifyWith(MakeUpdater({{"a.arc", one}}));
    EXPECT_EQ(0u, noList.exitCode) << noList.output;
    EXPECT_NE(std::string::npos, noList.output.find("no version list")) << noList.output;
}

TEST_F(PackageBuilderTest, RefusesWhatTheUpdaterCouldNotInstallAndWritesNothing)
{
    ASSERT_TRUE(WriteText(dir / L"ship\\Archive\\X.arc", "x"));
    ASSERT_TRUE(WriteText(dir / L"a.arc", "a"));
    const std::wstring a = dir / L"a.arc";
    ExpectRefused(Build(Ship() + L" --file \"" + a + L"=Other\\x.ARC\""), "same key twice");
    ExpectRefused(Build(L"--file \"" + a + L"=kpx.HVL\""), "the version list's own name");
    ExpectRefused(Build(L"--file \"" + a + L"=" + std::wstring(96, L'n') + L"\""), "entry name over 95 bytes");
    ExpectRefused(Build(L"--file \"" + a + L"=" + std::wstring(200, L'd') + L"\\" + std::wstring(50, L'n') + L"\""),
                  "path over 247 bytes");
    ExpectRefused(Build(L"--file \"" + a + L"=caf\u00E9.arc\""), "no Shift-JIS form");
    // Names Windows takes for one file though their ASCII lower case differs, and a target the updater
    // itself writes beside another: what the updater would refuse never leaves the builder.
    ExpectRefused(Build(L"--file \"" + a + L"=\u03B1.arc\" --file \"" + a + L"=\u0391.arc\""), "Greek case twins");
    ExpectRefused(Build(L"--file \"" + a + L"=\uFF41.arc\" --file \"" + a + L"=\uFF21.arc\""), "full-width case twins");
    ExpectRefused(Build(L"--file \"" + a + L"=Archive\\x.arc.kept\""), "the name originals are kept under");
    for (const std::string& target : kHostileNames)
        ExpectRefused(Build(L"--file \"" + a + L"=" + std::wstring(target.begin(), target.end()) + L"\""), target.c_str());
    ExpectRefused(Build(Ship(), std::wstring(1024, L'T')), "title over 1023 bytes");
    ExpectRefused(Build(Ship(), std::wstring(512, L'\u3042')), "title of 1024 Shift-JIS bytes");
    ExpectRefused(Build(Ship(), L"caf\u00E9"), "title without a Shift-JIS form");
    ASSERT_EQ(0u, Build(Ship(), std::wstring(1023, L'T')).exitCode);
    DeleteFileW(Out().c_str());

    ASSERT_TRUE(WriteBytes(dir / L"image.exe", Bytes(kTitleBlockOffset + 1, 0x90)));
    ExpectRefused(Build(Ship()), "image past 0xA0000");
    ASSERT_TRUE(WriteBytes(dir / L"image.exe", Bytes(kTitleBlockOffset, 0x90)));
    ASSERT_EQ(0u, Build(Ship()).exitCode);
}

TEST_F(PackageBuilderTest, RefusesTooManyEntriesAndFourGigabyteSizes)
{
    for (int i = 0; i < 256; ++i)
        ASSERT_TRUE(WriteText(dir / (L"ship\\f" + std::to_wstring(i)), "x"));
    ExpectRefused(Build(Ship()), "257 entries with the version list");
    DeleteFileW((dir / L"ship\\f0").c_str());
    ASSERT_EQ(0u, Build(Ship()).exitCode);
    DeleteFileW(Out().c_str());

    // Sparse files: their size is what counts, and the builder refuses before reading them.
    auto sparse = [&](const std::wstring& path, uint64_t size) {
        const UniqueHandle h(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size);
        return h.IsValid() && SetFilePointerEx(h.Get(), at, nullptr, FILE_BEGIN) && SetEndOfFile(h.Get());
    };
    ASSERT_TRUE(sparse(dir / L"huge", 0x100000000ull));
    ExpectRefused(Build(L"--file \"" + (dir / L"huge") + L"=huge.arc\""), "entry of 4 GiB");
    ASSERT_TRUE(sparse(dir / L"half1", 0x80000000ull));
    ASSERT_TRUE(sparse(dir / L"half2", 0x80000000ull));
    ExpectRefused(Build(L"--file \"" + (dir / L"half1") + L"=a.arc\" --file \"" + (dir / L"half2") + L"=b.arc\""),
                  "output of 4 GiB");
}

TEST_F(PackageBuilderTest, HelpAndUsage)
{
    for (const wchar_t* args : {L"--help", L"build --help", L"list --help", L"verify --help"}) {
        ProcessResult r = Mkupdate(args);
        EXPECT_EQ(0u, r.exitCode) << args;
        EXPECT_NE(std::string::npos, r.output.find("usage: mkupdate")) << args;
    }
    EXPECT_EQ(2u, Mkupdate(L"").exitCode);
    EXPECT_EQ(2u, Mkupdate(L"frobnicate").exitCode);
    EXPECT_EQ(2u, Mkupdate(L"build --image x").exitCode);
    EXPECT_EQ(1u, Mkupdate(L"list \"" + (dir / L"image.exe") + L"\"").exitCode);
}

TEST_F(PackageBuilderTest, ListColumnsLineUpWhateverTheNamesScript)
{
    // A Japanese name takes two terminal columns a character: the offsets and checksums stay in one column.
    ASSERT_TRUE(WriteBytes(dir / L"ship\\Archive\\data01200.arc", RandomBytes(300, 5)));
    ASSERT_TRUE(WriteBytes(dir / L"ship\\Archive\\\u8FFD\u52A0\u30B7\u30CA\u30EA\u30AA.arc", RandomBytes(200, 6)));
    ASSERT_EQ(0u, Build(Ship()).exitCode);
    const ProcessResult list = Mkupdate(L"list \"" + Out() + L"\"");
    ASSERT_EQ(0u, list.exitCode) << list.output;
    // Columns before `word` on each line that begins with `row`: ASCII one, a three-byte character two.
    auto columnsOf = [&](const std::string& row, const std::string& word) {
        std::vector<size_t> columns;
        for (size_t at = list.output.find(row); at != std::string::npos; at = list.output.find(row, at + 1)) {
            const size_t end = list.output.find(word, at);
            size_t width = 0;
            for (size_t i = at; i < end; ++i)
                width += (static_cast<uint8_t>(list.output[i]) & 0xC0) == 0x80 ? 0 : static_cast<uint8_t>(list.output[i]) >= 0xE0 ? 2 : 1;
            columns.push_back(width);
        }
        return columns;
    };
    for (const auto& column : {columnsOf("  entry ", " offset "), columnsOf("  record ", " checksum ")}) {
        ASSERT_GE(column.size(), 2u) << list.output;  // data01200.arc and the Japanese name, at least
        for (size_t c : column)
            EXPECT_EQ(column.front(), c) << list.output;
    }
}
