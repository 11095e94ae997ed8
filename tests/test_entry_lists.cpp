// Matching entries to version records, merging the payload's records, pruning records of missing files.
#include <gtest/gtest.h>

#include "archive/entry_lists.h"
#include "update/package/list_updates.h"
#include "util/folder/folder_reader.h"
#include "tests/testing_support.h"

namespace {
VersionListHeader HeaderOf(uint32_t count) { return VersionListHeader{{'K', 'H', 'V', '_', 'V', '2', '_', '_'}, 7, count}; }
}  // namespace

TEST(FindRecordByFileNameTest, MatchesTheLastComponentIgnoringAsciiCase)
{
    std::vector<VersionRecord> records = {{"kpx.hvl", 0}, {"Archive\\data01200.arc", 1}, {"data01200.arc", 2}};
    EXPECT_EQ(1, FindRecordByFileName(records, 3, "DATA01200.ARC"));
    EXPECT_EQ(1, FindRecordByFileName(records, 3, "data01200.arc"));
    EXPECT_EQ(0, FindRecordByFileName(records, 3, "KPX.hvl"));
    EXPECT_EQ(kNoRecord, FindRecordByFileName(records, 3, "data01200.arc.bak"));
    EXPECT_EQ(kNoRecord, FindRecordByFileName(records, 3, "data01200"));
    EXPECT_EQ(kNoRecord, FindRecordByFileName(records, 1, "data01200.arc"));  // only the first count records
}

TEST(FindRecordByFileNameTest, OverlongNamesNeverMatch)
{
    std::string longName(800, 'a');
    std::vector<VersionRecord> records = {{"Archive\\" + longName, 1}};
    EXPECT_EQ(kNoRecord, FindRecordByFileName(records, 1, longName));
}

TEST(MergeVersionRecordsTest, UpdatesPartnersKeepsTheirNamesAndAppendsTheRest)
{
    VersionListHeader h = HeaderOf(2);
    std::vector<VersionRecord> installed = {{"A", 1}, {"b", 2}};
    MergeVersionRecords(h, installed, {{"B", 5}, {"D", 6}});
    ASSERT_EQ(3u, installed.size());
    EXPECT_EQ(3u, h.count);
    EXPECT_EQ(7u, h.reserved);
    EXPECT_EQ("A", installed[0].name);
    EXPECT_EQ(1u, installed[0].value);
    EXPECT_EQ("b", installed[1].name);
    EXPECT_EQ(5u, installed[1].value);
    EXPECT_EQ("D", installed[2].name);
    EXPECT_EQ(6u, installed[2].value);
}

TEST(MergeVersionRecordsTest, AppendedRecordsAreNotSearchedAndOneFileKeepsOneRecordInAnySpelling)
{
    VersionListHeader h = HeaderOf(1);
    std::vector<VersionRecord> installed = {{"Archive\\x.arc", 1}};
    MergeVersionRecords(h, installed, {{"Archive/x.arc", 2}, {"n.arc", 3}, {"N.ARC", 4}});
    ASSERT_EQ(3u, installed.size());
    EXPECT_EQ("Archive\\x.arc", installed[0].name);
    EXPECT_EQ(2u, installed[0].value);
    EXPECT_EQ("n.arc", installed[1].name);
    EXPECT_EQ("N.ARC", installed[2].name);

    // Spellings Windows resolves to one file: "." parts, doubled separators, non-ASCII case. The first record
    // keeps its place and spelling and takes the new checksum; the others of that file go.
    const std::string fullA = "\xEF\xBC\xA1.arc", fullLowerA = "\xEF\xBD\x81.arc";  // U+FF21, U+FF41
    const std::string de = "\xD0\x94.arc", deLower = "\xD0\xB4.arc";                // U+0414, U+0434
    VersionListHeader h2 = HeaderOf(5);
    std::vector<VersionRecord> spelled = {{"Archive\\x.arc", 1}, {"Archive\\" + fullA, 1}, {".\\Archive\\X.arc", 1},
                                          {"Archive\\\\x.arc", 1}, {"Archive\\" + de, 1}};
    MergeVersionRecords(h2, spelled, {{"archive/x.arc", 2}, {"Archive\\" + fullLowerA, 3}, {"Archive/" + deLower, 4}});
    ASSERT_EQ(3u, spelled.size());
    EXPECT_EQ(3u, h2.count);
    EXPECT_EQ("Archive\\x.arc", spelled[0].name);
    EXPECT_EQ(2u, spelled[0].value);
    EXPECT_EQ("Archive\\" + fullA, spelled[1].name);
    EXPECT_EQ(3u, spelled[1].value);
    EXPECT_EQ("Archive\\" + de, spelled[2].name);
    EXPECT_EQ(4u, spelled[2].value);

    VersionListHeader empty = HeaderOf(0);
    std::vector<VersionRecord> none;
    MergeVersionRecords(empty, none, {{"p", 1}, {"q", 2}});
    ASSERT_EQ(2u, none.size());
    EXPECT_EQ("q", none[1].name);
    EXPECT_EQ(2u, empty.count);
}

TEST(PruneMissingRecordsTest, KeepsOrderFilesAndFoldersDropsMissingInAnyCaseAndEitherSeparator)
{
    TempDir dir;
    MakeDir(dir / L"Archive");
    ASSERT_TRUE(WriteText(dir / L"Archive\\a.arc", "a"));
    ASSERT_TRUE(WriteText(dir / L"Archive\\c.arc", "c"));
    VersionListHeader h = HeaderOf(7);
    std::vector<VersionRecord> records = {
        {"Archive\\c.arc", 3}, {"Archive\\b.arc", 2}, {"Archive", 9}, {"Archive\\a.arc", 1}, {std::string(800, 'x'), 4},
        {"ARCHIVE/A.ARC", 5}, {"archive\\B.arc", 6}};
    PruneMissingRecords(h, records, *OpenFolderReader(dir.path()));
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ(4u, h.count);
    EXPECT_EQ("Archive\\c.arc", records[0].name);
    EXPECT_EQ("Archive", records[1].name);
    EXPECT_EQ("Archive\\a.arc", records[2].name);
    EXPECT_EQ("ARCHIVE/A.ARC", records[3].name);
}
