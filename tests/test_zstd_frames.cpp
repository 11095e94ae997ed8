// The payload's zstd frames: the builder's writer and the updater's reader round trip a table of contents,
// and the reader refuses a table of frames it must not accept (windows over 8 MiB, cuts, damage, sizes that
// lie, missing flags, anything around the frame), one reader reused throughout as a run reuses it. Frames the
// writer would never make are made here with libzstd's encoder directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "compress/zstd_frame_reader.h"
#include "tests/package_factory.h"
#include "tools/zstd_frame_writer.h"

namespace {

const size_t kMiB = 1024 * 1024;

// Text-like bytes: words of a small vocabulary picked by a fixed generator, the same on every system.
Bytes Compressible(size_t size, uint32_t seed)
{
    static const char* const kWords[] = {"the ", "glass ", "feather ", "counted ", "wing ", "of ", "night, ",
                                         "and ", "\r\n", "kovo ", "scene_0042 ", "{voice:17} "};
    Bytes out;
    out.reserve(size);
    while (out.size() < size) {
        seed = seed * 1103515245u + 12345u;
        const char* word = kWords[(seed >> 16) % (sizeof(kWords) / sizeof(kWords[0]))];
        out.insert(out.end(), word, word + std::min(strlen(word), size - out.size()));
    }
    return out;
}

// A frame made by libzstd's encoder with parameters the writer never uses.
struct FrameParameters {
    int level = 3;
    int windowLog = 0;  // 0: the level's own
    bool checksum = true;
    bool contentSize = true;
};
Bytes EncoderFrame(const Bytes& content, const FrameParameters& p)
{
    ZSTD_CCtx* context = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, p.level);
    ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, p.checksum ? 1 : 0);
    ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, p.contentSize ? 1 : 0);
    if (p.windowLog)
        ZSTD_CCtx_setParameter(context, ZSTD_c_windowLog, p.windowLog);
    Bytes frame(ZSTD_compressBound(content.size()));
    const size_t size = ZSTD_compress2(context, frame.data(), frame.size(), content.data(), content.size());
    ZSTD_freeCCtx(context);
    EXPECT_FALSE(ZSTD_isError(size)) << ZSTD_getErrorName(size);
    frame.resize(ZSTD_isError(size) ? 0 : size);
    return frame;
}

// The writer's frame, the content read in its chunks; `abandoned` set when it stopped above `stopAbove`.
Bytes WrittenFrame(const Bytes& content, int level, uint64_t stopAbove = 0, bool* abandoned = nullptr)
{
    Bytes frame;
    size_t at = 0;
    bool stopped = false;
    const bool written = WriteZstdFrame(
        [&](unsigned char* bytes, uint32_t n) {
            EXPECT_LE(n, content.size() - at);
            memcpy(bytes, content.data() + at, n);
            at += n;
            return true;
        },
        content.size(), level, [&](const unsigned char* bytes, size_t n) {
            frame.insert(frame.end(), bytes, bytes + n);
            return true;
        },
        stopAbove, stopped);
    EXPECT_TRUE(written);
    if (abandoned)
        *abandoned = stopped;
    else
        EXPECT_FALSE(stopped);
    return frame;
}

// The reader of the whole suite, as one run reuses one for every entry.
ZstdFrameReader& Reader()
{
    static ZstdFrameReader reader;
    return reader;
}

struct ReadOutcome {
    bool accepted = false;
    bool readWhole = false;  // every Read succeeded (a refusal came, if at all, from Finish)
    std::string problem;     // empty when accepted
    Bytes content;
};
// Reads `stored` as a frame of `contentSize` bytes: the source hands out at most `sourceChunk` bytes a call,
// the content is asked for `readChunk` bytes at a time; then Finish.
ReadOutcome ReadFrame(const Bytes& stored, uint64_t contentSize, uint32_t readChunk = 65536, uint32_t sourceChunk = 4093)
{
    size_t at = 0;
    const StoredBytesSource source = [&](unsigned char* bytes, uint32_t size) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>({size, sourceChunk, stored.size() - at}));
        if (n > 0)
            memcpy(bytes, stored.data() + at, n);
        at += n;
        return n;
    };
    ReadOutcome outcome;
    ZstdFrameReader& reader = Reader();
    EXPECT_TRUE(reader.Ready());
    reader.Begin(source, contentSize);
    bool ok = true;
    while (ok && outcome.content.size() < contentSize) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(readChunk, contentSize - outcome.content.size()));
        const size_t from = outcome.content.size();
        outcome.content.resize(from + n);
        ok = reader.Read(outcome.content.data() + from, n);
    }
    outcome.readWhole = ok;
    outcome.accepted = ok && reader.Finish();
    outcome.problem = reader.Problem() ? reader.Problem() : "";
    EXPECT_EQ(outcome.accepted, outcome.problem.empty()) << outcome.problem;
    return outcome;
}

// The frame header with a dictionary ID of one byte (7) inserted: the descriptor's low bits say it is there.
Bytes WithDictionaryId(Bytes frame)
{
    const uint8_t descriptor = frame[4];
    const size_t at = 5 + ((descriptor & 0x20) ? 0 : 1);  // behind the window descriptor, when there is one
    frame[4] = static_cast<uint8_t>((descriptor & ~0x03) | 0x01);
    frame.insert(frame.begin() + at, 7);
    return frame;
}

Bytes Joined(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A skippable frame (magic 0x184D2A50..5F) holding `size` bytes.
Bytes SkippableFrame(uint32_t size)
{
    Bytes frame = {0x53, 0x2A, 0x4D, 0x18, static_cast<uint8_t>(size), 0, 0, 0};
    frame.resize(8 + size, 0xAB);
    return frame;
}

// FNV-1a of the bytes: a frame's fingerprint, written into the test as a constant both systems must meet.
uint64_t Fingerprint(const Bytes& bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (const unsigned char b : bytes)
        h = (h ^ b) * 1099511628211ull;
    return h;
}

}  // namespace

TEST(ZstdFramesTest, RoundTripsATableOfContents)
{
    struct Case {
        const char* name;
        Bytes content;
        int level;  // the writer's level; 0: the encoder's frame with window log `windowLog`
        int windowLog;
        uint32_t readChunk, sourceChunk;
    };
    const Case cases[] = {
        {"empty", {}, kDefaultCompressionLevel, 0, 1, 1},
        {"one byte", {0x42}, kDefaultCompressionLevel, 0, 1, 1},
        {"1 MiB of text at the default level", Compressible(kMiB, 1), kDefaultCompressionLevel, 0, 65536, 131075},
        {"3 MiB of random bytes", RandomBytes(3 * kMiB, 2), 3, 0, 1000003, 7},
        {"20 MiB of text in odd chunks", Compressible(20 * kMiB, 3), 3, 0, 4093, 65521},
        {"a window of exactly 8 MiB", Compressible(8 * kMiB, 4), 0, 27, 131072, 131075},
        {"window log 23 over 20 MiB", Compressible(20 * kMiB, 5), 0, 23, 1 << 20, 1 << 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes frame = c.level ? WrittenFrame(c.content, c.level) : EncoderFrame(c.content, {1, c.windowLog});
        ZSTD_frameHeader header;
        ASSERT_EQ(0u, ZSTD_getFrameHeader(&header, frame.data(), frame.size()));
        EXPECT_EQ(c.content.size(), header.frameContentSize);
        EXPECT_LE(header.windowSize, uint64_t{1} << kMaxFrameWindowLog);
        EXPECT_TRUE(header.checksumFlag);
        EXPECT_EQ(0u, header.dictID);
        const ReadOutcome read = ReadFrame(frame, c.content.size(), c.readChunk, c.sourceChunk);
        EXPECT_TRUE(read.accepted) << read.problem;
        EXPECT_TRUE(read.content == c.content);
    }
}

TEST(ZstdFramesTest, RefusesATableOfFramesNamingTheProblem)
{
    const Bytes content = Compressible(300 * 1024, 9);  // three blocks
    const Bytes frame = WrittenFrame(content, 3);
    Bytes middle = frame, checksum = frame;
    middle[frame.size() / 2] ^= 0x10;
    checksum[frame.size() - 1] ^= 0x01;
    const Bytes nine = Compressible(9 * kMiB, 10), eight = Compressible(8 * kMiB + 1, 11);

    struct Case {
        const char* name;
        Bytes stored;
        uint64_t contentSize;
        const char* problem;  // nullptr: damage, named as a checksum or as damage
    };
    const Case cases[] = {
        {"window log 27 (9 MiB)", EncoderFrame(nine, {1, 27}), nine.size(), "the frame needs a window over 8 MiB"},
        {"a window of 8 MiB and 1 byte", EncoderFrame(eight, {1, 27}), eight.size(),
         "the frame needs a window over 8 MiB"},
        {"window log 24 over 20 MiB", EncoderFrame(Compressible(20 * kMiB, 12), {1, 24}), 20 * kMiB,
         "the frame needs a window over 8 MiB"},
        {"no stored bytes", {}, content.size(), "the stored bytes end inside the frame"},
        {"cut inside the magic", Bytes(frame.begin(), frame.begin() + 3), content.size(),
         "the stored bytes end inside the frame"},
        {"cut behind the magic", Bytes(frame.begin(), frame.begin() + 5), content.size(),
         "the stored bytes end inside the frame"},
        {"cut behind the header", Bytes(frame.begin(), frame.begin() + 12), content.size(),
         "the stored bytes end inside the frame"},
        {"cut in the middle", Bytes(frame.begin(), frame.begin() + frame.size() / 2), content.size(),
         "the stored bytes end inside the frame"},
        {"cut before the checksum", Bytes(frame.begin(), frame.end() - 4), content.size(),
         "the stored bytes end inside the frame"},
        {"cut inside the checksum", Bytes(frame.begin(), frame.end() - 1), content.size(),
         "the stored bytes end inside the frame"},
        {"a byte flipped in the middle", middle, content.size(), nullptr},
        {"a byte flipped in the checksum", checksum, content.size(), "the frame's checksum does not match"},
        {"recorded size one less", frame, content.size() - 1, "the frame's content size is not the recorded one"},
        {"recorded size one more", frame, content.size() + 1, "the frame's content size is not the recorded one"},
        {"no checksum", EncoderFrame(content, {3, 0, false}), content.size(), "the frame carries no checksum"},
        {"no content size", EncoderFrame(content, {3, 0, true, false}), content.size(),
         "the frame does not record its content size"},
        {"a dictionary", WithDictionaryId(frame), content.size(), "the frame needs a dictionary"},
        {"a byte behind the frame", Joined(frame, {0}), content.size(), "bytes follow the frame"},
        {"two frames", Joined(frame, frame), content.size(), "bytes follow the frame"},
        {"a skippable frame behind", Joined(frame, SkippableFrame(4)), content.size(), "bytes follow the frame"},
        {"a skippable frame in front", Joined(SkippableFrame(4), frame), content.size(),
         "a skippable frame stands where the frame should"},
        {"not a frame", Compressible(100, 13), 100, "the stored bytes are not a zstd frame"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const uint32_t sourceChunk : {1u, 4093u, 131075u}) {
            const ReadOutcome read = ReadFrame(c.stored, c.contentSize, 65536, sourceChunk);
            EXPECT_FALSE(read.accepted);
            if (c.problem)
                EXPECT_EQ(c.problem, read.problem) << sourceChunk;
            else
                EXPECT_TRUE(read.problem == "the frame's checksum does not match" || read.problem == "the frame is damaged")
                    << read.problem;
            // The same reader takes the next frame as if nothing happened.
            EXPECT_TRUE(ReadFrame(frame, content.size()).accepted);
        }
    }
}

// libzstd decodes a frame handed whole in one pass, which refuses an empty compressed block that its
// block-by-block path accepts, and it reads on past the content's last byte when it has the bytes (both found
// by fuzz_zstd_frame): the reader must give one verdict however the stored bytes and the content are cut.
TEST(ZstdFramesTest, ReaderGivesOneVerdictWhateverTheChunks)
{
    const Bytes emptyCompressedBlock = {0x28, 0xB5, 0x2F, 0xFD, 0x24, 0x01,  // single segment, checksum, size 1
                                        0x04, 0x00, 0x00,                    // a compressed block of 0 bytes
                                        0x09, 0x00, 0x00, 0x42,              // the last block: raw, "B"
                                        0xF9, 0x57, 0x32, 0x06};             // XXH64's low half of "B"
    Bytes damageBehindTheContent = {0x28, 0xB5, 0x2F, 0xFD, 0x24, 0x01,  // as above
                                    0x08, 0x00, 0x00, 0x42};             // a raw block, not the last: "B"
    damageBehindTheContent.resize(damageBehindTheContent.size() + 15);  // five empty raw blocks
    damageBehindTheContent.insert(damageBehindTheContent.end(), {0x00, 0x00, 0x2E});  // a block over 128 KiB
    const Bytes content = Compressible(200 * 1024, 21);
    const struct {
        Bytes frame;
        bool accepted;
        bool refusedAtFinishBytewise;  // the byte-wise Reads all succeed; handed everything, the Read refuses
    } cases[] = {{emptyCompressedBlock, true, false}, {WrittenFrame(content, 3), true, false},
                 {WrittenFrame({}, 3), true, false}, {damageBehindTheContent, false, true}};
    for (const auto& c : cases) {
        uint64_t contentSize = ZSTD_getFrameContentSize(c.frame.data(), c.frame.size());
        const ReadOutcome bytewise = ReadFrame(c.frame, contentSize, 1, 1);
        const ReadOutcome whole = ReadFrame(c.frame, contentSize, 1 << 20, 1 << 20);
        EXPECT_EQ(c.accepted, bytewise.accepted) << bytewise.problem;
        EXPECT_EQ(c.accepted, whole.accepted) << whole.problem;
        EXPECT_EQ(bytewise.problem, whole.problem);
        if (c.accepted) {
            EXPECT_TRUE(bytewise.content == whole.content);
        }
        if (c.refusedAtFinishBytewise) {
            EXPECT_TRUE(bytewise.readWhole && !whole.readWhole);
        }
    }
}

TEST(ZstdFramesTest, ReaderRefusesToReadPastTheContentOrFinishEarly)
{
    const Bytes content = Compressible(5000, 14), frame = WrittenFrame(content, 19);
    size_t at = 0;
    const StoredBytesSource source = [&](unsigned char* bytes, uint32_t size) {
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(size, frame.size() - at));
        memcpy(bytes, frame.data() + at, n);
        at += n;
        return n;
    };
    Bytes out(content.size() + 1);
    Reader().Begin(source, content.size());
    EXPECT_FALSE(Reader().Read(out.data(), static_cast<uint32_t>(out.size())));
    EXPECT_STREQ("more bytes were asked for than the frame's content holds", Reader().Problem());
    at = 0;
    Reader().Begin(source, content.size());
    EXPECT_TRUE(Reader().Read(out.data(), 4000));
    EXPECT_FALSE(Reader().Finish());
    EXPECT_STREQ("the frame's content was not read to its end", Reader().Problem());
}

TEST(ZstdFramesTest, WriterGivesTheSameBytesEveryTimeOnEverySystem)
{
    // Text with random runs in it: literals, matches and raw stretches at the default level, then level 1.
    Bytes content = Compressible(600 * 1024, 15);
    const Bytes noise = RandomBytes(50 * 1024, 16);
    content.insert(content.begin() + 200 * 1024, noise.begin(), noise.end());
    const Bytes first = WrittenFrame(content, kDefaultCompressionLevel);
    EXPECT_TRUE(first == WrittenFrame(content, kDefaultCompressionLevel));
    // The native build and the Windows build must both meet these (a change of zstd's version may move them).
    EXPECT_EQ(118941u, first.size());
    EXPECT_EQ(15823462136397155412u, Fingerprint(first));
    const Bytes fast = WrittenFrame(content, 1);
    EXPECT_EQ(157712u, fast.size());
    EXPECT_EQ(11952922301307276095u, Fingerprint(fast));
    EXPECT_TRUE(ReadFrame(first, content.size()).content == content);
}

TEST(ZstdFramesTest, WriterAbandonsAFrameThatDoesNotShrinkAndStopsOnFailures)
{
    const Bytes random = RandomBytes(3 * kMiB, 17);
    bool abandoned = false;
    const Bytes partial = WrittenFrame(random, 3, random.size() - 1, &abandoned);
    EXPECT_TRUE(abandoned);
    // It stopped as soon as it passed the limit: within one output buffer of it.
    EXPECT_GT(partial.size(), random.size() - 1);
    EXPECT_LE(partial.size(), random.size() - 1 + ZSTD_CStreamOutSize());
    const Bytes text = Compressible(3 * kMiB, 18);
    const Bytes whole = WrittenFrame(text, 3, text.size() / 2, &abandoned);
    EXPECT_FALSE(abandoned);
    EXPECT_TRUE(ReadFrame(whole, text.size()).accepted);

    const auto reads = [&](unsigned char* bytes, uint32_t n) { memset(bytes, 1, n); return true; };
    const auto writes = [](const unsigned char*, size_t) { return true; };
    EXPECT_FALSE(WriteZstdFrame([](unsigned char*, uint32_t) { return false; }, 1000, 3, writes, 0, abandoned));
    EXPECT_FALSE(WriteZstdFrame(reads, 1000, 3, [](const unsigned char*, size_t) { return false; }, 0, abandoned));
    EXPECT_FALSE(WriteZstdFrame(reads, 1000, 0, writes, 0, abandoned));
    EXPECT_FALSE(WriteZstdFrame(reads, 1000, 20, writes, 0, abandoned));
    EXPECT_TRUE(WriteZstdFrame(reads, 1000, 19, writes, 0, abandoned));
}

// The peer: Debian's zstd command writes the very bytes of our writer for the same file and level (and so
// reads ours, and ours reads its). The Windows run meets the same bytes through the fingerprints above.
TEST(ZstdFramesTest, WriterMatchesDebiansZstdCommandByteForByte)
{
#if defined(_WIN32)
    GTEST_SKIP() << "Debian's zstd command runs natively only";
#else
    if (system("zstd --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "no zstd command (scripts/deps.sh installs it)";
    char folder[] = "/tmp/zstd_frames_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const std::string file = std::string(folder) + "/content";
    Bytes mixed = Compressible(300 * 1024, 19);
    const Bytes noise = RandomBytes(100 * 1024, 20);
    mixed.insert(mixed.begin() + 100 * 1024, noise.begin(), noise.end());
    const Bytes contents[] = {{}, {0x42}, mixed};
    for (const Bytes& content : contents) {
        for (const int level : {1, 3, 9, kDefaultCompressionLevel}) {
            SCOPED_TRACE(std::to_string(content.size()) + " bytes at level " + std::to_string(level));
            FILE* f = fopen(file.c_str(), "wb");
            ASSERT_NE(nullptr, f);
            ASSERT_EQ(content.size(), fwrite(content.data(), 1, content.size(), f));
            ASSERT_EQ(0, fclose(f));
            const std::string command = "zstd -q -" + std::to_string(level) + " --content-size --check -c " + file;
            FILE* pipe = popen(command.c_str(), "r");
            ASSERT_NE(nullptr, pipe);
            Bytes theirs;
            unsigned char buffer[65536];
            for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
                theirs.insert(theirs.end(), buffer, buffer + n);
            EXPECT_EQ(0, pclose(pipe));
            EXPECT_TRUE(theirs == WrittenFrame(content, level)) << theirs.size() << " bytes from zstd";
        }
    }
    remove(file.c_str());
    rmdir(folder);
#endif
}
