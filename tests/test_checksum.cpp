// The content checksum: its known answers, and every vector form equal to the byte loop for any data,
// any split of a stream into runs, and any alignment.
#include <gtest/gtest.h>

#include <random>

#include "archive/checksum.h"
#include "archive/checksum_simd.h"
#include "tests/package_factory.h"

namespace {

// Every form runs through UpdateContentChecksum, switched to it; a form this processor lacks is skipped.
struct Form {
    const char* name;
    ChecksumForm form;
};

// Printed by its name, so that a case's full name is the same in every build tree (GoogleTest would print the
// record's raw bytes, a pointer among them).
void PrintTo(const Form& f, std::ostream* out) { *out << f.name; }

class ContentChecksumTest : public ::testing::TestWithParam<Form> {
protected:
    void SetUp() override
    {
        if (!ForceChecksumForm(GetParam().form))
            GTEST_SKIP() << "this processor (or its OS) has no " << GetParam().name << " form";
    }
    void TearDown() override { ForceChecksumForm(ChecksumForm::Best); }
    static void Update(ContentChecksum& c, const unsigned char* p, uint32_t n) { UpdateContentChecksum(c, p, n); }
};

}  // namespace

TEST_P(ContentChecksumTest, KnownAnswers)
{
    {
        const Form& f = GetParam();
        ContentChecksum empty{};
        Update(empty, reinterpret_cast<const unsigned char*>(""), 0);
        EXPECT_EQ(0u, StoredChecksum(empty)) << f.name;
        ContentChecksum abc{};
        Update(abc, reinterpret_cast<const unsigned char*>("abc"), 3);
        EXPECT_EQ(0x0050B406u, abc.sum) << f.name;
        EXPECT_EQ(0x6026CC120050B406ull, StoredChecksum(abc)) << f.name;
    }
}

TEST_P(ContentChecksumTest, EqualsTheByteLoopForAnySplit)
{
    std::mt19937 rng(12345);
    const Bytes data = RandomBytes(6 * 1024 * 1024 + 77, 99);
    ContentChecksum reference{};
    UpdateContentChecksumBytewise(reference, data.data(), static_cast<uint32_t>(data.size()));
    {
        const Form& f = GetParam();
        // Whole, in 1 MiB runs as the updater feeds it, and in random runs of 1 byte to 3 MiB.
        ContentChecksum whole{}, megabytes{}, random{};
        Update(whole, data.data(), static_cast<uint32_t>(data.size()));
        for (size_t done = 0; done < data.size(); done += 0x100000)
            Update(megabytes, data.data() + done, static_cast<uint32_t>(std::min<size_t>(0x100000, data.size() - done)));
        for (size_t done = 0; done < data.size();) {
            const uint32_t limit = rng() % 4 == 0 ? 3 * 1024 * 1024 : 200;
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(1 + rng() % limit, data.size() - done));
            Update(random, data.data() + done, n);
            done += n;
        }
        EXPECT_EQ(StoredChecksum(reference), StoredChecksum(whole)) << f.name;
        EXPECT_EQ(StoredChecksum(reference), StoredChecksum(megabytes)) << f.name;
        EXPECT_EQ(StoredChecksum(reference), StoredChecksum(random)) << f.name;
    }
}

TEST_P(ContentChecksumTest, LengthsAroundTheVectorWidthsAtEveryAlignment)
{
    // The 16-, 32- and 64-byte vectors, the 64-byte blocks, and the segmented forms' superblocks of 16 KiB
    // (AVX2) and 32 KiB (AVX-512), with every kind of tail behind them.
    const Bytes data = RandomBytes(3 * 32768 + 4096, 7);
    std::mt19937 rng(3);
    {
        const Form& f = GetParam();
        for (size_t align = 0; align < 64; ++align) {
            for (uint32_t len : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u, 191u, 1000u,
                                 16383u, 16384u, 16385u, 16448u, 32767u, 32768u, 32769u, 32831u, 65536u + 4095u, 98304u}) {
                ContentChecksum expected{}, actual{};
                // Start from a state that is not zero, as a later run of a stream does.
                expected.sum = actual.sum = rng();
                expected.a = actual.a = static_cast<uint8_t>(rng());
                expected.b = actual.b = static_cast<uint8_t>(rng());
                expected.c = actual.c = static_cast<uint8_t>(rng());
                expected.d = actual.d = static_cast<uint8_t>(rng());
                UpdateContentChecksumBytewise(expected, data.data() + align, len);
                Update(actual, data.data() + align, len);
                ASSERT_EQ(StoredChecksum(expected), StoredChecksum(actual)) << f.name << " align " << align << " len " << len;
            }
        }
    }
}

TEST_P(ContentChecksumTest, LongRunsOfOneByteValue)
{
    // Zeros and 0xFF exercise the accumulators' wrap-around without any help from random data.
    for (uint8_t value : {0x00, 0xFF, 0xE9}) {
        const Bytes data(1 << 20, value);
        ContentChecksum expected{};
        UpdateContentChecksumBytewise(expected, data.data(), static_cast<uint32_t>(data.size()));
        {
            const Form& f = GetParam();
            ContentChecksum actual{};
            Update(actual, data.data(), static_cast<uint32_t>(data.size()));
            EXPECT_EQ(StoredChecksum(expected), StoredChecksum(actual)) << f.name << " value " << int(value);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryForm, ContentChecksumTest,
                         ::testing::Values(Form{"sse2", ChecksumForm::Sse2}, Form{"avx2", ChecksumForm::Avx2},
                                           Form{"avx512", ChecksumForm::Avx512}, Form{"best", ChecksumForm::Best}),
                         [](const ::testing::TestParamInfo<Form>& info) { return std::string(info.param.name); });
