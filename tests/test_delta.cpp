// The VCDIFF decoder and encoder in memory: the RFC's worked example encoded by hand, every cut of a delta,
// the refusals, and the encoder's round trip over a table of edits. The peer (xdelta3) is met in
// delta_interop_test.py.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "delta/delta_decoder.h"
#include "delta/delta_encoder.h"
#include "delta/vcdiff.h"
#include "tests/package_factory.h"

namespace {

using Bytes = std::vector<unsigned char>;

DeltaResult Apply(const Bytes& delta, const Bytes& base, Bytes& target)
{
    DeltaResult result;
    ApplyDelta(delta, base, target, result);
    return result;
}

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }

// RFC 3284's example: COPY 4 from 0, ADD "wxyz", COPY 4 from 4, COPY 12 from 24 (overlapping what it
// produces), RUN 4 of "z"; every address in SELF mode, with the default code table.
const Bytes kRfcDelta = {0xD6, 0xC3, 0xC4, 0x00, 0x00,        // magic, no secondary compression
                         0x01, 16, 0,                          // VCD_SOURCE: segment of 16 at 0
                         19, 28, 0x00, 5, 6, 3,                // lengths: encoding, target, indicator, sections
                         'w', 'x', 'y', 'z', 'z',              // data
                         20, 5, 20, 28, 0, 4,                  // COPY 4, ADD 4, COPY 4, COPY 12, RUN (size 4)
                         0, 4, 24};                            // addresses

}  // namespace

// The window checksum against its definition, a byte at a time, over lengths around its 16-byte runs and its
// 5552-byte reductions, on bytes that push every sum to its largest.
TEST(DeltaChecksumTest, Adler32IsTheDefinitionAtEveryLength)
{
    for (const uint8_t fill : {0x00, 0xFF, 0x5A}) {
        Bytes data = RandomBytes(40000, fill);
        if (fill != 0x5A)
            std::fill(data.begin(), data.end(), fill);
        for (size_t n : {0u, 1u, 15u, 16u, 17u, 5551u, 5552u, 5553u, 11104u, 39999u, 40000u}) {
            uint32_t a = 1, b = 0;
            for (size_t i = 0; i < n; ++i) {
                a = (a + data[i]) % 65521;
                b = (b + a) % 65521;
            }
            EXPECT_EQ((b << 16) | a, vcdiff::Adler32(1, data.data(), n)) << n << " bytes of " << int{fill};
            EXPECT_EQ((b << 16) | a, vcdiff::Adler32(vcdiff::Adler32(1, data.data(), n / 3), data.data() + n / 3, n - n / 3));
        }
    }
}

TEST(DeltaDecoderTest, AppliesTheRfcExampleAndRefusesEveryCutOfIt)
{
    const Bytes base = Text("abcdefghijklmnop");
    Bytes target;
    const DeltaResult ok = Apply(kRfcDelta, base, target);
    EXPECT_EQ(DeltaError::None, ok.error) << ok.problem;
    EXPECT_EQ(Text("abcdwxyzefghefghefghefghzzzz"), target);
    // Every cut but the whole is refused by name, as damage; none reads past what it has.
    for (size_t n = 0; n < kRfcDelta.size(); ++n) {
        const Bytes cut(kRfcDelta.begin(), kRfcDelta.begin() + n);
        const DeltaResult r = Apply(cut, base, target);
        if (n == 5)
            EXPECT_EQ(DeltaError::None, r.error) << "a header alone is an empty target";
        else
            EXPECT_EQ(DeltaError::Damaged, r.error) << n << " bytes: " << r.problem;
    }
    // A base one byte short: the segment lies past its end.
    EXPECT_EQ(DeltaError::WrongBase, Apply(kRfcDelta, Text("abcdefghijklmno"), target).error);
}

TEST(DeltaDecoderTest, RefusesWhatItDoesNotSupportByName)
{
    const Bytes base = Text("abcdefghijklmnop");
    struct Case {
        Bytes delta;
        DeltaError error;
        const char* named;
    } cases[] = {
        {{0xD6, 0xC3, 0xC4, 0x00, 0x01, 0x02}, DeltaError::Unsupported, "-S none"},
        {{0xD6, 0xC3, 0xC4, 0x00, 0x02, 0x00}, DeltaError::Unsupported, "VCD_CODETABLE"},
        {{0xD6, 0xC3, 0xC4, 0x00, 0x00, 0x02, 4, 0, 5, 0, 0, 0, 0, 0}, DeltaError::Unsupported, "VCD_TARGET"},
        // A target window of 16 MiB + 1.
        {{0xD6, 0xC3, 0xC4, 0x00, 0x00, 0x00, 8, 0x88, 0x80, 0x80, 0x01, 0, 0, 0, 0}, DeltaError::Unsupported,
         "16 MiB"},
        {{'P', 'K', 3, 4, 0}, DeltaError::Damaged, "not a VCDIFF"},
        // An integer of eleven bytes, and one past 32 bits, where a window's length stands.
        {{0xD6, 0xC3, 0xC4, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
         DeltaError::Damaged, "length"},
    };
    for (const Case& c : cases) {
        Bytes target;
        const DeltaResult r = Apply(c.delta, base, target);
        EXPECT_EQ(c.error, r.error) << c.named << ": " << r.problem;
        EXPECT_NE(std::string::npos, r.problem.find(c.named)) << r.problem;
    }
    // The RFC's example carries no window checksum: a changed data byte changes the target, which only the
    // version record can tell.
    Bytes changed = kRfcDelta;
    changed[14] = 'q';
    Bytes target;
    Apply(changed, base, target);
    EXPECT_NE(Text("abcdwxyzefghefghefghefghzzzz"), target);
    // Ours carries an Adler-32 of every window: no single changed byte anywhere in the delta gives a wrong
    // target with success.
    const Bytes old = RandomBytes(3000, 21);
    Bytes next = old;
    const Bytes added = RandomBytes(200, 22);
    next.insert(next.begin() + 1500, added.begin(), added.end());
    const Bytes ours = MakeDelta(old.data(), old.size(), next.data(), next.size());
    int wrongTargets = 0, refused = 0;
    for (size_t at = 0; at < ours.size(); ++at) {
        for (const uint8_t flip : {0x01, 0x80}) {
            Bytes damaged = ours;
            damaged[at] ^= flip;
            Bytes out;
            const DeltaResult r = Apply(damaged, old, out);
            refused += r.error != DeltaError::None;
            wrongTargets += r.error == DeltaError::None && out != next;
        }
    }
    EXPECT_EQ(0, wrongTargets);
    EXPECT_GT(refused, static_cast<int>(ours.size()));
}

// Our encoder then our decoder gives every target back, over edits that reach every instruction.
TEST(DeltaEncoderTest, RoundTripsATableOfEdits)
{
    const Bytes base = RandomBytes(300000, 11);
    auto edited = [&](size_t cut, const Bytes& insert, size_t resume) {
        Bytes t(base.begin(), base.begin() + cut);
        t.insert(t.end(), insert.begin(), insert.end());
        t.insert(t.end(), base.begin() + resume, base.end());
        return t;
    };
    Bytes moved(base.begin() + 200000, base.begin() + 250000);
    moved.insert(moved.end(), base.begin(), base.begin() + 200000);
    Bytes repeats;
    for (int i = 0; i < 200; ++i)
        repeats.insert(repeats.end(), base.begin() + 1000, base.begin() + 1500);
    const std::vector<std::pair<const char*, std::pair<Bytes, Bytes>>> pairs = {
        {"empty base", {Bytes(), RandomBytes(5000, 1)}},
        {"empty target", {base, Bytes()}},
        {"identical", {base, base}},
        {"unrelated", {base, RandomBytes(70000, 2)}},
        {"an inner file replaced by a longer one", {base, edited(100000, RandomBytes(9000, 3), 104000)}},
        {"bytes changed in place", {base, edited(150000, Bytes(3, 0x5A), 150003)}},
        {"appended", {base, edited(base.size(), RandomBytes(777, 4), base.size())}},
        {"truncated", {base, Bytes(base.begin(), base.begin() + 123457)}},
        {"a moved block", {base, moved}},
        {"long runs", {base, edited(5000, Bytes(100000, 0), 5000)}},
        {"repeats within the target", {Bytes(), repeats}},
        {"several windows", {RandomBytes(3 << 20, 5), RandomBytes(9 << 20, 5)}},
    };
    for (const auto& p : pairs) {
        const Bytes& from = p.second.first;
        const Bytes& to = p.second.second;
        const Bytes delta = MakeDelta(from.data(), from.size(), to.data(), to.size());
        EXPECT_EQ(delta, MakeDelta(from.data(), from.size(), to.data(), to.size())) << p.first << ": not deterministic";
        Bytes target;
        const DeltaResult r = Apply(delta, from, target);
        EXPECT_EQ(DeltaError::None, r.error) << p.first << ": " << r.problem;
        EXPECT_TRUE(target == to) << p.first;
        if (std::string(p.first) == "identical" || std::string(p.first) == "long runs") {
            EXPECT_LT(delta.size(), 1000u) << p.first;
        }
    }
}
