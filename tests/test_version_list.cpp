// Version lists in both versions: layout, byte-for-byte round trips, damaged input and safe saving.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>

#include "archive/read_le.h"
#include "archive/version_list.h"
#include "tests/testing_support.h"
#include "update/package/list_updates.h"
#include "util/base/handles_win.h"
#include "util/folder/folder_reader_win.h"
#include "util/fs/file.h"
#include "util/held/contained_files.h"
#include "util/held/replace_file.h"

namespace {

// Saves as the updater saves "kpx.hvl": encoded, then, where the list may be replaced, replaced whole
// through the held folder's handle.
bool SaveVersionList(const VersionListHeader& header, const std::vector<VersionRecord>& records, const wchar_t* path)
{
    std::vector<unsigned char> bytes;
    const std::wstring full = path;
    const size_t cut = full.find_last_of(L'\\');
    UniqueHandle folder;
    std::wstring root;
    if (!EncodeVersionList(header, records, bytes) || !HoldFolderAt(full.substr(0, cut).c_str(), folder, root))
        return false;
    const std::wstring name = full.substr(cut + 1);
    return ListIsReplaceable(*ReadHeldFolder(std::wstring(), folder.Get(), root), name.c_str()) &&
           ReplaceFileIn(folder.Get(), name, bytes.data(), static_cast<uint32_t>(bytes.size()), root);
}

VersionListHeader Header(const char* magic, uint32_t reserved, uint32_t count)
{
    VersionListHeader h;
    memcpy(h.magic, magic, 8);
    h.reserved = reserved;
    h.count = count;
    return h;
}

class VersionListTest : public ::testing::Test {
protected:
    std::wstring Path() { return dir / L"kpx.hvl"; }
    bool Load() { return LoadVersionList(header, records, Path().c_str()); }
    TempDir dir;
    VersionListHeader header = Header("unset!!!", 9, 9);
    std::vector<VersionRecord> records{{"sentinel", 1}};
};

const char kSjisPath[] = "Archive\\\x83\x51\x81\x5B\x83\x80.arc";
const char kUtf8Path[] = "Archive\\\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.arc";

}  // namespace

TEST_F(VersionListTest, VersionOneLayout)
{
    ASSERT_TRUE(SaveVersionList(Header("KHV_____", 0xDEADBEEF, 2), {{"a.arc", 0x1122334455667788ull}, {"b", 2}},
                                Path().c_str()));
    Bytes bytes = ReadBytes(Path());
    ASSERT_EQ(144u, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data(), "KHV_____", 8));
    EXPECT_EQ(0xDEADBEEFu, ReadU32(bytes.data() + 8));
    EXPECT_EQ(2u, ReadU32(bytes.data() + 12));
    EXPECT_EQ(0x1122334455667788ull, ReadU64(bytes.data() + 72));
    EXPECT_EQ('b', bytes[80]);
    for (int i = 16 + 5; i < 72; ++i)
        EXPECT_EQ(0, bytes[i]) << i;
}

TEST_F(VersionListTest, ReadThenWriteRoundTripsByteForByteInBothVersions)
{
    for (const char* magic : {"KHV_V2__", "KHV_____"}) {
        const uint32_t size = strcmp(magic, "KHV_V2__") == 0 ? 256 : 64;
        Bytes original(16 + 3 * size, 0);
        memcpy(original.data(), magic, 8);
        WriteU32(original.data() + 8, 0xA5A5A5A5);
        WriteU32(original.data() + 12, 3);
        const char* names[] = {"Archive\\data01200.arc", kSjisPath, "kpx"};
        for (int i = 0; i < 3; ++i) {
            memcpy(original.data() + 16 + i * size, names[i], strlen(names[i]));
            WriteU64(original.data() + 16 + i * size + size - 8, 0x0102030405060708ull * (i + 1));
        }
        ASSERT_TRUE(WriteBytes(Path(), original));
        ASSERT_TRUE(Load()) << magic;
        ASSERT_EQ(3u, records.size());
        EXPECT_EQ(kUtf8Path, records[1].name);
        EXPECT_EQ(0x0102030405060708ull * 2, records[1].value);
        ASSERT_TRUE(SaveVersionList(header, records, Path().c_str()));
        EXPECT_EQ(original, ReadBytes(Path())) << magic;
    }
}

TEST_F(VersionListTest, CountZeroAndWritingOverALongerFile)
{
    ASSERT_TRUE(WriteBytes(Path(), Bytes(5000, 0x55)));
    ASSERT_TRUE(SaveVersionList(Header("KHV_V2__", 0, 1), {{"x", 1}, {"not written", 2}}, Path().c_str()));
    EXPECT_EQ(16u + 256, ReadBytes(Path()).size());
    ASSERT_TRUE(SaveVersionList(Header("KHV_V2__", 0, 0), {}, Path().c_str()));
    EXPECT_EQ(16u, ReadBytes(Path()).size());
    ASSERT_TRUE(Load());
    EXPECT_TRUE(records.empty());
    EXPECT_FALSE(FileExists(Path() + L".new"));
}

TEST_F(VersionListTest, DamagedListsFailWithOutputsUntouched)
{
    Bytes wrongCase(16, 0);
    memcpy(wrongCase.data(), "khv_v2__", 8);
    Bytes hugeCount(16, 0);
    memcpy(hugeCount.data(), "KHV_V2__", 8);
    WriteU32(hugeCount.data() + 12, 0xFFFFFFFF);
    Bytes tooMany = hugeCount;
    WriteU32(tooMany.data() + 12, 0x02000000);
    Bytes shortRecords = hugeCount;
    WriteU32(shortRecords.data() + 12, 2);
    shortRecords.resize(16 + 256 + 100);
    Bytes noNul = hugeCount;
    WriteU32(noNul.data() + 12, 1);
    noNul.resize(16 + 256, 'n');
    for (const Bytes& bytes : {Bytes(15, 0), wrongCase, hugeCount, tooMany, shortRecords, noNul}) {
        ASSERT_TRUE(WriteBytes(Path(), bytes));
        EXPECT_FALSE(Load());
        EXPECT_EQ(9u, header.count);
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ("sentinel", records[0].name);
    }
    EXPECT_FALSE(LoadVersionList(header, records, (dir / L"missing").c_str()));
}

TEST_F(VersionListTest, WriterRefusesWithoutTouchingTheFile)
{
    ASSERT_TRUE(WriteText(Path(), "old"));
    // Magic in another case, and a name one byte too long for version 1.
    EXPECT_FALSE(SaveVersionList(Header("khv_v2__", 0, 0), {}, Path().c_str()));
    EXPECT_FALSE(SaveVersionList(Header("KHV_____", 0, 1), {{std::string(56, 'x'), 0}}, Path().c_str()));
    EXPECT_TRUE(SaveVersionList(Header("KHV_____", 0, 1), {{std::string(55, 'x'), 0}}, (dir / L"ok").c_str()));
    EXPECT_FALSE(SaveVersionList(Header("KHV_V2__", 0, 2), {{"only one", 0}}, Path().c_str()));
    EXPECT_FALSE(SaveVersionList(Header("khv_v2__", 0, 0), {}, (dir / L"none").c_str()));
    EXPECT_FALSE(FileExists(dir / L"none"));
    EXPECT_EQ(ToBytes("old"), ReadBytes(Path()));
}

TEST_F(VersionListTest, NamesWithoutAShiftJisFormKeepTheirUtf8Bytes)
{
    // As read from an installed list that stores UTF-8: written back byte for byte, read back the same,
    // and the record beside it still takes code page 932.
    const std::vector<VersionRecord> written = {{"Archive\\caf\xC3\xA9.arc", 7}, {"\xE3\x81\x82.arc", 8}};
    ASSERT_TRUE(SaveVersionList(Header("KHV_V2__", 0, 2), written, Path().c_str()));
    const Bytes bytes = ReadBytes(Path());
    ASSERT_EQ(16u + 2 * 256, bytes.size());
    EXPECT_EQ(0, memcmp(bytes.data() + 16, "Archive\\caf\xC3\xA9.arc", 17));
    EXPECT_EQ(0, memcmp(bytes.data() + 16 + 256, "\x82\xA0.arc", 7));
    ASSERT_TRUE(Load());
    EXPECT_EQ(written[0].name, records[0].name);
    EXPECT_EQ(written[1].name, records[1].name);
}

TEST_F(VersionListTest, FailedReplacementKeepsTheOldList)
{
    ASSERT_TRUE(WriteText(Path(), "old"));
    // Held open without delete sharing, as a running game would hold it.
    UniqueHandle h = HoldAsTheGame(Path());
    ASSERT_TRUE(h.IsValid());
    EXPECT_FALSE(SaveVersionList(Header("KHV_V2__", 0, 0), {}, Path().c_str()));
    h.Reset(nullptr);
    EXPECT_EQ(ToBytes("old"), ReadBytes(Path()));
    EXPECT_FALSE(FileExists(Path() + L".new"));

    SetFileAttributesW(Path().c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(SaveVersionList(Header("KHV_V2__", 0, 0), {}, Path().c_str()));
    EXPECT_EQ(ToBytes("old"), ReadBytes(Path()));
}
