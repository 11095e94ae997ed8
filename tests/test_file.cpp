// CFileDX on real files: open and create modes, sharing between handles, seeking and short transfers; the
// held folder reader's long names.
#include <gtest/gtest.h>

#include "tests/testing_support.h"
#include "util/folder/folder_reader.h"
#include "util/fs/file.h"

TEST(FileOpenTest, MissingFileLeavesTheObjectClosed)
{
    TempDir dir;
    CFileDX f;
    EXPECT_EQ(0, f.Open((dir / L"missing").c_str()));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(0u, f.Read(nullptr, 0));
    EXPECT_EQ(0xFFFFFFFFu, f.GetSize());
}

TEST(FileOpenTest, SecondOpenOnAnOpenObjectFailsAndKeepsTheFirstFile)
{
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / L"a", "first"));
    ASSERT_TRUE(WriteText(dir / L"b", "second"));
    CFileDX f;
    ASSERT_EQ(1, f.Open((dir / L"a").c_str()));
    EXPECT_EQ(0, f.Open((dir / L"b").c_str()));
    EXPECT_EQ(0, f.Create((dir / L"c").c_str(), 0));
    EXPECT_FALSE(FileExists(dir / L"c"));
    char buf[8] = {};
    EXPECT_EQ(5u, f.Read(buf, sizeof buf));
    EXPECT_STREQ("first", buf);
    f.Close();
    f.Close();  // closing twice does nothing
    EXPECT_EQ(1, f.Open((dir / L"b").c_str()));  // reusable after Close
}

TEST(FileCreateTest, ModeZeroTruncatesModeOneKeepsAndOverwritesFromTheStart)
{
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / L"x", "abcdef"));
    {
        CFileDX f;
        ASSERT_EQ(1, f.Create((dir / L"x").c_str(), 1));
        EXPECT_EQ(2u, f.Write("XY", 2));
    }
    EXPECT_EQ(ToBytes("XYcdef"), ReadBytes(dir / L"x"));
    {
        CFileDX f;
        ASSERT_EQ(1, f.Create((dir / L"x").c_str(), 0));
    }
    EXPECT_TRUE(ReadBytes(dir / L"x").empty());
    EXPECT_TRUE(FileExists(dir / L"x"));
}

TEST(FileSharingTest, ReadersShareWritersAreExclusive)
{
    TempDir dir;
    ASSERT_TRUE(WriteText(dir / L"x", "data"));
    CFileDX reader, second, writer;
    ASSERT_EQ(1, reader.Open((dir / L"x").c_str()));
    EXPECT_EQ(1, second.Open((dir / L"x").c_str()));
    EXPECT_EQ(0, writer.Create((dir / L"x").c_str(), 0));
    EXPECT_EQ(ToBytes("data"), ReadBytes(dir / L"x"));  // the failed create truncated nothing
    reader.Close();
    second.Close();

    ASSERT_EQ(1, writer.Create((dir / L"x").c_str(), 0));
    EXPECT_EQ(0, reader.Open((dir / L"x").c_str()));
    CFileDX other;
    EXPECT_EQ(0, other.Create((dir / L"x").c_str(), 1));
}

TEST(FileSeekTest, ShortReadsSeekPastEndAndNegativePositions)
{
    TempDir dir;
    Bytes data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i);
    ASSERT_TRUE(WriteBytes(dir / L"x", data));
    CFileDX f;
    ASSERT_EQ(1, f.Open((dir / L"x").c_str()));
    EXPECT_EQ(1000u, f.GetSize());
    ASSERT_EQ(1, f.Seek(900));
    uint8_t buf[1024];
    EXPECT_EQ(100u, f.Read(buf, 1024));
    EXPECT_EQ(132, buf[0]);  // 900 mod 256
    EXPECT_EQ(1, f.Seek(5000));
    EXPECT_EQ(0u, f.Read(buf, 10));
    EXPECT_EQ(0, f.Seek(-1));
    EXPECT_EQ(1, f.Seek(0x1FFFFFFFFLL));  // low part all ones is a legitimate position
    EXPECT_EQ(1, f.Seek(10));
    EXPECT_EQ(4u, f.Read(buf, 4));
    EXPECT_EQ(10, buf[0]);
}

// The reader resolves a name's folder once and the name with one search in it; the answer must be the
// system's own part-by-part one: every existing part long, the rest as given, the folder as named in front.
TEST(HeldFolderReaderTest, LongNamesAreTheSystemsLongPaths)
{
    TempDir dir;
    MakeDir(dir / L"Long Folder Name");
    ASSERT_TRUE(WriteText(dir / L"Long Folder Name\\long file name.arc", "x"));
    wchar_t shortPath[MAX_PATH] = L"", shortFolder[MAX_PATH] = L"";
    ASSERT_NE(0u, GetShortPathNameW((dir / L"Long Folder Name\\long file name.arc").c_str(), shortPath, MAX_PATH));
    ASSERT_NE(0u, GetShortPathNameW(dir.path().c_str(), shortFolder, MAX_PATH));
    const std::wstring shortName = shortPath + wcslen(shortFolder) + 1;  // "LONGFO~1\\LONGFI~1.ARC"
    const std::wstring shortDir = shortName.substr(0, shortName.find(L'\\'));
    const std::wstring folder = dir.path() + L"\\Long Folder Name\\";
    const auto reader = OpenFolderReader(dir.path());
    const std::pair<std::wstring, std::wstring> cases[] = {
        {shortName, folder + L"long file name.arc"},
        {L"long folder name\\LONG FILE NAME.ARC", folder + L"long file name.arc"},
        {shortDir + L"\\long file name.arc.tmp", folder + L"long file name.arc.tmp"},
        {shortDir + L"\\*.arc", folder + L"*.arc"},
        {L"missing\\" + shortDir + L"\\x.arc", dir.path() + L"\\missing\\" + shortDir + L"\\x.arc"},
        {L"Long Folder Name", dir.path() + L"\\Long Folder Name"},
    };
    for (const auto& c : cases) {
        const std::wstring got = reader->LongName(c.first);
        EXPECT_EQ(0, _wcsicmp(c.second.c_str(), got.c_str()))
            << std::string(c.first.begin(), c.first.end()) << " -> " << std::string(got.begin(), got.end());
    }
}
