// The content checksum's known answers and its independence from how a stream is split.
#include <gtest/gtest.h>

#include <random>

#include "archive/checksum.h"
#include "tests/testing_support.h"

TEST(ContentChecksumTest, KnownAnswers)
{
    ContentChecksum empty{};
    UpdateContentChecksum(empty, "", 0);
    EXPECT_EQ(0u, StoredChecksum(empty));
    ContentChecksum abc{};
    UpdateContentChecksum(abc, "abc", 3);
    EXPECT_EQ(0x0050B406u, abc.sum);
    EXPECT_EQ(0x6026CC120050B406ull, StoredChecksum(abc));
}

TEST(ContentChecksumTest, MegabyteRunsEqualByteByByteOverRandomData)
{
    std::mt19937 rng(12345);
    Bytes data(3 * 1024 * 1024 + 17);
    for (auto& b : data)
        b = static_cast<uint8_t>(rng());
    ContentChecksum whole{}, byMegabyte{}, byByte{}, random{};
    UpdateContentChecksum(whole, data.data(), static_cast<uint32_t>(data.size()));
    for (size_t done = 0; done < data.size(); done += 0x100000) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(0x100000, data.size() - done));
        UpdateContentChecksum(byMegabyte, data.data() + done, n);
    }
    for (uint8_t b : data)
        UpdateContentChecksum(byByte, &b, 1);
    for (size_t done = 0; done < data.size();) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(rng() % 70000, data.size() - done));
        UpdateContentChecksum(random, data.data() + done, n);
        done += n;
    }
    EXPECT_EQ(StoredChecksum(whole), StoredChecksum(byMegabyte));
    EXPECT_EQ(StoredChecksum(whole), StoredChecksum(byByte));
    EXPECT_EQ(StoredChecksum(whole), StoredChecksum(random));
    EXPECT_NE(0u, StoredChecksum(whole));
}
