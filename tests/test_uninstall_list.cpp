// The uninstall list: parsing and normalising mixed input, the two groups, and safe rewriting.
#include <gtest/gtest.h>

#include <windows.h>

#include "update/writer/uninstall_list_update.h"
#include "tests/testing_support.h"
#include "util/base/handles_win.h"
#include "util/held/contained_files.h"

namespace {

// Updates the list as the updater does, through the held folder's handle.
bool UpdateThroughHeldFolder(const wchar_t* folder, const std::vector<std::wstring>& names)
{
    UniqueHandle held;
    std::wstring root;
    return HoldFolderAt(folder, held, root) && UpdateUninstallList(held.Get(), root, names);
}

class UninstallListTest : public ::testing::Test {
protected:
    std::wstring List() { return dir / L"uninst.lst"; }
    std::string Update(const std::string& before, const std::vector<std::wstring>& names, bool expectOk = true,
                       const std::wstring& folder = std::wstring())
    {
        const std::wstring in = folder.empty() ? dir.path() : folder;
        EXPECT_TRUE(WriteText(in + L"\\uninst.lst", before));
        EXPECT_EQ(expectOk, UpdateThroughHeldFolder(in.c_str(), names));
        Bytes after = ReadBytes(in + L"\\uninst.lst");
        return std::string(after.begin(), after.end());
    }
    TempDir dir;
};

const std::string kNul(1, '\0');

}  // namespace

TEST_F(UninstallListTest, WorkedExampleWithCrLfLinesAndTwoTargets)
{
    EXPECT_EQ("archive\\data00100.arc\nsave\\system.dat\narchive\\data01200.arc\narchive\\data01300.arc\n" + kNul,
              Update("Archive\\Data00100.ARC\r\nSave\\System.dat\r\n",
                     {L"Archive\\data01200.arc", L"", L"Archive\\data01300.arc"}));
}

TEST_F(UninstallListTest, JapaneseFolderWithShiftJisAndUtf8Lines)
{
    // "C:\ゲーム\硝子の羽を数えて": a line written by the game's installer in Shift-JIS ("Archive\追加.arc"),
    // one written by an earlier update in UTF-8 ("Save\セーブ.dat"), and a Japanese target added.
    const std::wstring folder = dir / L"\u30B2\u30FC\u30E0\\\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066";
    MakeDir(dir / L"\u30B2\u30FC\u30E0");
    MakeDir(folder);
    EXPECT_EQ("archive\\\xE8\xBF\xBD\xE5\x8A\xA0.arc\nsave\\\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.dat\n"
              "archive\\\xE3\x82\xB7\xE3\x83\x8A\xE3\x83\xAA\xE3\x82\xAA.arc\n$folder\n" + kNul,
              Update("Archive\\\x92\xC7\x89\xC1.arc\r\nSave\\\xE3\x82\xBB\xE3\x83\xBC\xE3\x83\x96.dat\r\n$folder\r\n",
                     {L"Archive\\\u30B7\u30CA\u30EA\u30AA.arc"}, true, folder));
}

TEST_F(UninstallListTest, DollarLinesFollowTheFileGroupInTheirOwnOrder)
{
    EXPECT_EQ("a\nb\n$reg hklm\n$dir\n" + kNul, Update("$REG HKLM\na\n$Dir\nB", {}));
    EXPECT_EQ("$only\n$two\n" + kNul, Update("$ONLY\r\n$two\r\n", {}));
    // Added names always join the file group, whatever their first character.
    EXPECT_EQ("$name\n$name\n" + kNul, Update("$name", {L"$Name"}));
}

TEST_F(UninstallListTest, CaseAndEncodingTwinsAppearOnceInTheFirstPlace)
{
    const std::string sjis = "\x83\x51\x81\x5B\x83\x80.arc";             // katakana GE-MU, code page 932
    const std::string utf8 = "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.arc";  // the same in UTF-8
    EXPECT_EQ(utf8 + "\nx.arc\n" + kNul, Update(sjis + "\nX.arc\n" + utf8 + "\nx.ARC\n", {L"X.ARC"}));
    // Spellings Windows resolves to one file: either separator, "." parts, doubled separators, non-ASCII case.
    EXPECT_EQ("archive/x.arc\n.\\\xD0\x94.arc\n" + kNul,
              Update("Archive/X.arc\n.\\\xD0\x94.arc\n", {L"Archive\\x.arc", L"Archive\\\\X.arc", L"\u0434.arc"}));
    // A Shift-JIS line is written back in UTF-8, its trail byte 0x5C kept inside its character.
    EXPECT_EQ("\xE8\xA1\xA8\\a\n" + kNul, Update("\x95\x5C\\A\n", {}));
}

TEST_F(UninstallListTest, BlanksLineEndsAndEmbeddedNul)
{
    // Leading blanks and tabs go, trailing blanks stay significant; blank and empty lines vanish wherever
    // they stand; a last line without its line end is read to the end.
    EXPECT_EQ("a\na \nb\nlast\n" + kNul, Update("\r\n \t\n\ta\r\r\n a \n   \nb\rlast", {}));
    EXPECT_EQ("keep\n" + kNul, Update(std::string("keep\n\0lost\n", 11), {}));
    EXPECT_EQ(kNul, Update("", {}));
    EXPECT_EQ("new\n" + kNul, Update("", {L"New"}));
}

TEST_F(UninstallListTest, LongLinesAreKeptWhole)
{
    const std::string longLine(100 * 1024, 'q');
    EXPECT_EQ(longLine + "\nz\n" + kNul, Update(longLine + "\r\nZ", {}));
}

TEST_F(UninstallListTest, RunningTheSameUpdateTwiceChangesNothingTheSecondTime)
{
    const std::vector<std::wstring> names = {L"Archive\\data01200.arc", L"Archive\\data01300.arc"};
    const std::string first = Update("Archive\\data01200.arc\r\n$x\r\n", names);
    ASSERT_TRUE(UpdateThroughHeldFolder(dir.path().c_str(), names));
    Bytes second = ReadBytes(List());
    EXPECT_EQ(first, std::string(second.begin(), second.end()));
    EXPECT_EQ("archive\\data01200.arc\narchive\\data01300.arc\n$x\n" + kNul, first);
}

TEST_F(UninstallListTest, FailuresLeaveTheOldBytes)
{
    EXPECT_FALSE(UpdateThroughHeldFolder(dir.path().c_str(), {L"a"}));  // missing: not created
    EXPECT_FALSE(FileExists(List()));

    ASSERT_TRUE(WriteText(List(), "Old\r\n"));
    SetFileAttributesW(List().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(UpdateThroughHeldFolder(dir.path().c_str(), {L"a"}));
    EXPECT_EQ(ToBytes("Old\r\n"), ReadBytes(List()));
    SetFileAttributesW(List().c_str(), FILE_ATTRIBUTE_NORMAL);

    // Held open by another program that allows reading but not deleting or writing.
    UniqueHandle h = HoldAsTheGame(List());
    ASSERT_TRUE(h.IsValid());
    EXPECT_FALSE(UpdateThroughHeldFolder(dir.path().c_str(), {L"a"}));
    h.Reset(nullptr);
    EXPECT_EQ(ToBytes("Old\r\n"), ReadBytes(List()));
    // Held open for writing: it cannot even be read.
    h.Reset(CreateFileW(List().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(h.IsValid());
    EXPECT_FALSE(UpdateThroughHeldFolder(dir.path().c_str(), {L"a"}));
    h.Reset(nullptr);
    EXPECT_EQ(ToBytes("Old\r\n"), ReadBytes(List()));
    EXPECT_FALSE(FileExists(List() + L".new"));
}
