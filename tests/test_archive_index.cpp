// Archive index reading in both versions, from anywhere inside a file, and refusal of damaged indexes.
#include <gtest/gtest.h>

#include <cstring>

#include "archive/archive_index.h"
#include "archive/read_le.h"
#include "tests/testing_support.h"
#include "util/fs/file.h"

namespace {

struct RawRecord {
    std::string name;  // bytes as stored
    uint32_t offset;
    uint32_t size;
};

Bytes MakeIndex(const char* magic, uint32_t count, const std::vector<RawRecord>& records, uint32_t recordSize)
{
    const uint32_t nameWidth = recordSize == 128 ? 96 : 16;
    Bytes out(16 + records.size() * recordSize, 0);
    memcpy(out.data(), magic, 12);
    WriteU32(out.data() + 12, count);
    for (size_t i = 0; i < records.size(); ++i) {
        unsigned char* rec = out.data() + 16 + i * recordSize;
        memcpy(rec, records[i].name.data(), std::min<size_t>(records[i].name.size(), nameWidth));
        WriteU32(rec + nameWidth, records[i].offset);
        WriteU32(rec + nameWidth + 4, records[i].size);
    }
    return out;
}

class ArchiveIndexTest : public ::testing::Test {
protected:
    // Reads the index from `prefix` bytes into the file, as the updater does with its payload.
    bool Read(const Bytes& bytes, size_t prefix = 0, size_t dataBytes = 4096)
    {
        Bytes file(prefix, 0xEE);
        file.insert(file.end(), bytes.begin(), bytes.end());
        file.resize(file.size() + dataBytes, 0);
        EXPECT_TRUE(WriteBytes(dir / L"a.arc", file));
        CFileDX f;
        EXPECT_EQ(1, f.Open((dir / L"a.arc").c_str()));
        EXPECT_EQ(1, f.Seek(static_cast<int64_t>(prefix)));
        return ReadArchiveIndex(header, entries, f);
    }
    TempDir dir;
    ArchiveHeader header{};
    std::vector<ArchiveEntry> entries{{"sentinel", 1, 2}};
};

}  // namespace

TEST_F(ArchiveIndexTest, CountZeroGivesAnEmptyListAndDataStart16)
{
    ASSERT_TRUE(Read(MakeIndex("VORLAN ARC20", 0, {}, 128)));
    EXPECT_TRUE(entries.empty());
    EXPECT_EQ(0u, header.count);
    EXPECT_EQ(0, memcmp(header.magic, "VORLAN ARC20", 12));
}

TEST_F(ArchiveIndexTest, CurrentVersionPositionsCountFromTheArchiveStart)
{
    std::vector<RawRecord> recs;
    for (int i = 0; i < 8; ++i)
        recs.push_back({"data0" + std::to_string(i) + ".arc", 0x710u * i, 0x10u + i});
    ASSERT_TRUE(Read(MakeIndex("VORLAN ARC20", 8, recs, 128), 0xA0400));
    ASSERT_EQ(8u, entries.size());
    EXPECT_EQ("data01.arc", entries[1].name);
    EXPECT_EQ(0x710u + 1040, entries[1].position);
    EXPECT_EQ(0x11u, entries[1].size);
    EXPECT_EQ(1040u, entries[0].position);
}

TEST_F(ArchiveIndexTest, OlderVersionUses32ByteRecords)
{
    ASSERT_TRUE(Read(MakeIndex("PackFile    ", 3, {{"a", 5, 1}, {"b", 6, 2}, {"c", 7, 3}}, 32)));
    ASSERT_EQ(3u, entries.size());
    EXPECT_EQ(5u + 112, entries[0].position);
    EXPECT_EQ("c", entries[2].name);
    EXPECT_EQ(3u, entries[2].size);
}

TEST_F(ArchiveIndexTest, TailOfACurrentRecordIsIgnored)
{
    Bytes bytes = MakeIndex("VORLAN ARC20", 1, {{"x.arc", 0, 4}}, 128);
    for (int i = 104; i < 128; ++i)
        bytes[16 + i] = 0xAB;
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ("x.arc", entries[0].name);
    EXPECT_EQ(4u, entries[0].size);
}

TEST_F(ArchiveIndexTest, ShiftJisNameArrivesAsUtf8)
{
    ASSERT_TRUE(Read(MakeIndex("VORLAN ARC20", 1, {{"\x83\x51\x81\x5B\x83\x80.arc", 0, 1}}, 128)));
    EXPECT_EQ("\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.arc", entries[0].name);
}

TEST_F(ArchiveIndexTest, DamagedIndexesFailWithOutputsUntouched)
{
    const std::vector<Bytes> damaged = {
        MakeIndex("vorlan arc20", 0, {}, 128),                          // magic in another case
        MakeIndex("PACKFILE    ", 0, {}, 32),
        MakeIndex("VORLAN ARC20", 2, {{"a", 0, 1}}, 128),               // index shorter than count says
        MakeIndex("VORLAN ARC20", 0xFFFFFFFF, {}, 128),                 // count x size beyond 4 GiB
        MakeIndex("VORLAN ARC20", 0x02000000, {}, 128),                 // 4 GiB exactly
        MakeIndex("PackFile    ", 0x01000000, {}, 32),                  // more than the file holds
        MakeIndex("PackFile    ", 1, {{std::string(16, 'n'), 0, 1}}, 32),  // name without its NUL
        MakeIndex("VORLAN ARC20", 1, {{"\x81\x20.arc", 0, 1}}, 128),    // not Shift-JIS
    };
    for (size_t i = 0; i < damaged.size(); ++i) {
        header.count = 77;
        EXPECT_FALSE(Read(damaged[i], 0, 0)) << i;
        EXPECT_EQ(77u, header.count) << i;
        ASSERT_EQ(1u, entries.size()) << i;
        EXPECT_EQ("sentinel", entries[0].name);
    }
}

TEST_F(ArchiveIndexTest, FileShorterThanAHeaderFails)
{
    ASSERT_TRUE(WriteBytes(dir / L"short", ToBytes("VORLAN ARC2")));
    CFileDX f;
    ASSERT_EQ(1, f.Open((dir / L"short").c_str()));
    EXPECT_FALSE(ReadArchiveIndex(header, entries, f));
}
