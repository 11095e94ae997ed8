// The reading thread and the flushing thread, driven through each hand-off on real files: natively, under
// ThreadSanitizer and under Wine.
#include <gtest/gtest.h>

#include "tests/package_factory.h"
#include "tests/testing_support.h"
#include "util/fs/file.h"
#include "util/io/flush_behind.h"
#include "util/io/read_ahead.h"

namespace {

const uint32_t kChunk = 1000;

// Streams `stored` bytes of a file holding `size` through StreamWithReadAhead, consuming at most `stopAfter`
// chunks, and returns what the consumer and the inspector saw.
struct Streamed {
    bool ok = false;
    Bytes consumed, inspected;
    int consumeCalls = 0;
};

Streamed Stream(const std::wstring& path, uint64_t length, int stopAfter, ReadAheadThread* reader)
{
    Streamed s;
    CFileDX file;
    EXPECT_EQ(1, file.Open(path.c_str()));
    std::vector<unsigned char> buffer(kReadAheadChunks * kChunk);
    s.ok = StreamWithReadAhead(
        file, length, kChunk, buffer.data(),
        [&](const unsigned char* bytes, uint32_t n) {
            s.consumed.insert(s.consumed.end(), bytes, bytes + n);
            return ++s.consumeCalls < stopAfter;
        },
        [&](const unsigned char* bytes, uint32_t n) {
            s.inspected.insert(s.inspected.end(), bytes, bytes + n);
            return true;
        },
        reader);
    return s;
}

}  // namespace

// Every length that meets a boundary of the chunk or the ring, read with a thread of the call's own and
// with one kept across streams: every byte in order, to both sides, and a short file is a failure.
TEST(ReadAheadTest, StreamsEveryByteInOrderAcrossTheRing)
{
    TempDir dir;
    const Bytes data = RandomBytes(12 * kChunk + 7, 3);
    ASSERT_TRUE(WriteBytes(dir / L"data", data));
    ReadAheadThread kept;
    for (ReadAheadThread* reader : {static_cast<ReadAheadThread*>(nullptr), &kept}) {
        for (uint64_t length : {uint64_t{0}, uint64_t{1}, uint64_t{kChunk}, uint64_t{kChunk + 1},
                                uint64_t{kReadAheadChunks * kChunk - 1}, uint64_t{kReadAheadChunks * kChunk},
                                uint64_t{5 * kChunk / 2}, uint64_t{data.size()}}) {
            const Streamed s = Stream(dir / L"data", length, 1 << 30, reader);
            EXPECT_TRUE(s.ok) << length;
            const Bytes expected(data.begin(), data.begin() + length);
            EXPECT_EQ(expected, s.consumed) << length;
            EXPECT_EQ(expected, s.inspected) << length;
        }
        // The file ends inside the ring, before the length asked for.
        const Streamed shortFile = Stream(dir / L"data", data.size() + 10, 1 << 30, reader);
        EXPECT_FALSE(shortFile.ok);
        EXPECT_EQ(data.size() / kChunk, shortFile.consumed.size() / kChunk);
    }
}

// A consumer that stops while the reader waits for room in a full ring: no call follows, and the call
// returns instead of waiting for the reader forever; the kept thread serves the next stream.
TEST(ReadAheadTest, ConsumerStoppingReleasesTheWaitingReader)
{
    TempDir dir;
    const Bytes data = RandomBytes(20 * kChunk, 4);
    ASSERT_TRUE(WriteBytes(dir / L"data", data));
    ReadAheadThread kept;
    for (int stopAfter : {1, 2, int{kReadAheadChunks}, int{kReadAheadChunks} + 1}) {
        const Streamed s = Stream(dir / L"data", data.size(), stopAfter, &kept);
        EXPECT_FALSE(s.ok);
        EXPECT_EQ(stopAfter, s.consumeCalls);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + stopAfter * kChunk), s.consumed);
        EXPECT_LE(s.inspected.size(), (stopAfter + kReadAheadChunks) * kChunk);  // the reader stopped too
    }
    EXPECT_EQ(data, Stream(dir / L"data", data.size(), 1 << 30, &kept).consumed);
}

// Finish reports every file flushed; a flush that fails is reported, by Failed and by Finish.
TEST(FlushBehindTest, FinishesOnceAllAreFlushedAndReportsAFailedFlush)
{
    TempDir dir;
    std::vector<std::unique_ptr<CFileDX>> files;
    for (int i = 0; i < 6; ++i) {
        files.emplace_back(new CFileDX);
        ASSERT_EQ(1, files.back()->Create((dir / (L"f" + std::to_wstring(i))).c_str(), 0));
        ASSERT_EQ(3u, files.back()->Write("abc", 3));
    }
    {
        FlushBehind flusher;
        for (auto& f : files)
            flusher.Add(*f);
        EXPECT_TRUE(flusher.Finish([] { return true; }, 1));
        EXPECT_FALSE(flusher.Failed());
    }
    {
        CFileDX closed;  // a file that cannot be flushed
        FlushBehind flusher;
        flusher.Add(*files[0]);
        flusher.Add(closed);
        flusher.Add(*files[1]);
        EXPECT_FALSE(flusher.Finish([] { return true; }, 1));
        EXPECT_TRUE(flusher.Failed());
    }
}

// A slow reading thread (a delta window being decoded, a slow disk): the caller's idle call answers every
// few milliseconds meanwhile, every byte still arrives, and a false from it stops the stream.
TEST(ReadAheadTest, CallerAnswersWhileTheReaderIsSlowAndIdleCanStopTheStream)
{
    const Bytes data = RandomBytes(6 * kChunk, 5);
    for (const int stopAt : {0, 3}) {
        size_t at = 0;
        int idleCalls = 0;
        Bytes consumed;
        std::vector<unsigned char> buffer(kReadAheadChunks * kChunk);
        const bool ok = StreamWithReadAhead(
            [&](unsigned char* bytes, uint32_t n) {
                Mutex m;
                Condition nap;
                const Locked hold(m);
                nap.WaitFor(m, 4 * kIdleIntervalMs);
                std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), n, bytes);
                at += n;
                return true;
            },
            data.size(), kChunk, buffer.data(),
            [&](const unsigned char* bytes, uint32_t n) {
                consumed.insert(consumed.end(), bytes, bytes + n);
                return true;
            },
            nullptr, nullptr, [&] { return stopAt == 0 || ++idleCalls < stopAt; });
        if (stopAt == 0) {
            EXPECT_TRUE(ok);
            EXPECT_EQ(data, consumed);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(stopAt, idleCalls);
            EXPECT_LT(consumed.size(), data.size());
        }
    }
}
