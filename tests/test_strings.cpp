// Bounded formatting, byte-string primitives, Shift-JIS-safe lower-casing and search, path splitting.
#include <gtest/gtest.h>

#include <cstring>

#include "util/fs/relative_path.h"
#include "util/text/encoding.h"
#include "util/text/strings.h"

TEST(FormatWideTest, PercentSTakesAWideStringAsTheSystemFormatsExpect)
{
    wchar_t buf[64];
    EXPECT_EQ(5, FormatWide(buf, 64, L"%s\\%s", L"ab", L"cd"));
    EXPECT_STREQ(L"ab\\cd", buf);
    FormatWide(buf, 64, L"%s\\%s.tmp", L"C:\\Games", L"Archive\\data01200.arc");
    EXPECT_STREQ(L"C:\\Games\\Archive\\data01200.arc.tmp", buf);
    FormatWide(buf, 64, L"Installing \"%s\".", L"\u30C7\u30FC\u30BF");
    EXPECT_STREQ(L"Installing \"\u30C7\u30FC\u30BF\".", buf);
}

TEST(FormatWideTest, RefusesTextThatDoesNotFitAndWritesNothingPastTheEnd)
{
    wchar_t buf[8];
    for (auto& c : buf)
        c = L'#';
    EXPECT_EQ(7, FormatWide(buf, 8, L"%s", L"1234567"));  // exactly fits with its terminator
    EXPECT_STREQ(L"1234567", buf);
    wchar_t guarded[12];
    for (auto& c : guarded)
        c = L'#';
    EXPECT_EQ(-1, FormatWide(guarded, 8, L"%s\\%s", L"1234", L"5678"));
    EXPECT_EQ(L'\0', guarded[0]);
    for (int i = 8; i < 12; ++i)
        EXPECT_EQ(L'#', guarded[i]);
}

TEST(StrCompareTest, ComparesUnsignedBytes)
{
    EXPECT_EQ(-1, StrCompare("a", "b"));
    EXPECT_EQ(1, StrCompare("b", "a"));
    EXPECT_EQ(1, StrCompare("\x82", "\x41"));
    EXPECT_EQ(0, StrCompare("same", "same"));
    EXPECT_EQ(-1, StrCompare("abc", "abcd"));
    EXPECT_EQ(1, StrCompare("abcd", "abc"));
}

TEST(ToLowerAsciiTest, LowersOnlyWholeAsciiCharacters)
{
    char ascii[] = "Archive\\DATA01200.ARC";
    EXPECT_STREQ("archive\\data01200.arc", ToLowerAscii(ascii));
    // 0x83 0x41 is KATAKANA SMALL A: its trail byte is an "A" that must stay.
    char sjis[] = "AB\x83\x41Z.ARC";
    EXPECT_STREQ("ab\x83\x41z.arc", ToLowerAscii(sjis));
    char utf8[] = "X\xE3\x82\xA2Y";
    EXPECT_STREQ("x\xE3\x82\xA2y", ToLowerAscii(utf8));
    char cut[] = "A\x83";  // lead byte at the end: read as one byte, nothing past the terminator
    EXPECT_STREQ("a\x83", ToLowerAscii(cut));
}

TEST(SplitPathTest, SplitsIntoUtf8Parts)
{
    std::string drive = "?", dir, name, ext;
    ASSERT_TRUE(SplitPath(&drive, &dir, &name, &ext, "Archive\\data01200.arc"));
    EXPECT_EQ("", drive);
    EXPECT_EQ("Archive\\", dir);
    EXPECT_EQ("data01200", name);
    EXPECT_EQ(".arc", ext);

    ASSERT_TRUE(SplitPath(nullptr, &dir, &name, &ext, "Archive\\"));
    EXPECT_EQ("Archive\\", dir);
    EXPECT_EQ("", name);
    EXPECT_EQ("", ext);
    ASSERT_TRUE(SplitPath(nullptr, nullptr, &name, &ext, "kpx"));
    EXPECT_EQ("kpx", name);
    EXPECT_EQ("", ext);
    ASSERT_TRUE(SplitPath(nullptr, nullptr, &name, &ext, ".hvl"));
    EXPECT_EQ("", name);
    EXPECT_EQ(".hvl", ext);
    ASSERT_TRUE(SplitPath(&drive, &dir, &name, &ext, "C:a/b.c/d.tar.gz"));
    EXPECT_EQ("C:", drive);
    EXPECT_EQ("a/b.c/", dir);
    EXPECT_EQ("d.tar", name);
    EXPECT_EQ(".gz", ext);
}

TEST(SplitPathTest, ShiftJisPathWithBackslashTrailByteComesOutInUtf8)
{
    // 0x95 0x5C is a kanji whose trail byte is a backslash; it is not a separator.
    std::string dir, name, ext;
    ASSERT_TRUE(SplitPath(nullptr, &dir, &name, &ext, "\x95\x5C\\x\x95\x5C.arc"));
    std::wstring wide;
    ASSERT_TRUE(MultiByteToWide("\x95\x5C", wide));
    std::string kanji;
    ASSERT_TRUE(WideToMultiByte(wide.c_str(), Encoding::Utf8, kanji));
    EXPECT_EQ(kanji + "\\", dir);
    EXPECT_EQ("x" + kanji, name);
    EXPECT_EQ(".arc", ext);
}

TEST(SplitPathTest, RefusesOverlongPathsWithOutputsUntouched)
{
    std::string name = "keep";
    std::string longPath(800, 'a');
    EXPECT_FALSE(SplitPath(nullptr, nullptr, &name, nullptr, longPath.c_str()));
    EXPECT_EQ("keep", name);
}

TEST(IsSafeRelativePathTest, AcceptsPlainRelativePaths)
{
    for (const wchar_t* ok : {L"data01200.arc", L"Archive\\data01200.arc", L"Archive/sub/x.arc", L"kpx.hvl",
                              L"\u30C7\u30FC\u30BF.arc", L".hidden", L"a..b", L"CONSOLE.arc", L"COM0", L"LPT10"})
        EXPECT_TRUE(IsSafeRelativePath(ok)) << ok;
}

TEST(IsSafeRelativePathTest, RefusesEverythingThatLeavesTheFolderOrAliasesAnotherName)
{
    for (const wchar_t* bad : {L"", L"..\\x.arc", L"Archive\\..\\..\\x.arc", L"C:\\x.arc", L"C:x.arc", L"\\x.arc",
                               L"/x.arc", L"\\\\server\\share\\x", L"a:b.arc", L"x.arc:stream", L".\\x.arc",
                               L"Archive\\\\x.arc", L"Archive\\", L"x.arc.", L"x.arc ", L"CON", L"nul.arc",
                               L"Archive\\com1.txt", L"LPT9", L"aux .arc"})
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
}
