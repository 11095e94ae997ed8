// Encoding detection, character decoding and code-page conversion on the real Win32 converters.
#include <gtest/gtest.h>

#include "util/text/code_page.h"
#include "util/text/encoding.h"

namespace {
const char kSjisA[] = "\x82\xA0";          // HIRAGANA A in code page 932
const char kUtf8A[] = "\xE3\x81\x82";      // the same character in UTF-8
const char kSjisName[] = "\x83\x51\x81\x5B\x83\x80.arc";  // KATAKANA GE, LONG VOWEL, MU + ".arc"
const char kUtf8Name[] = "\xE3\x82\xB2\xE3\x83\xBC\xE3\x83\xA0.arc";
}  // namespace

TEST(DetectEncodingTest, ClassifiesAsciiShiftJisAndUtf8)
{
    EXPECT_EQ(Encoding::Ascii, DetectEncoding(""));
    EXPECT_EQ(Encoding::Ascii, DetectEncoding("data01200.arc"));
    EXPECT_EQ(Encoding::Native, DetectEncoding(kSjisA));
    EXPECT_EQ(Encoding::Utf8, DetectEncoding(kUtf8A));
    EXPECT_EQ(Encoding::Native, DetectEncoding("\x80"));
    EXPECT_EQ(Encoding::Native, DetectEncoding("\xC1\x81"));  // 0xC1 can never lead UTF-8
}

TEST(DetectEncodingTest, CutSequenceIsShiftJis)
{
    EXPECT_EQ(Encoding::Native, DetectEncoding("\xE3\x81"));
    EXPECT_EQ(Encoding::Native, DetectEncoding("ab\xE3"));
}

TEST(DetectEncodingTest, SixGoodSequencesDecideUtf8WithoutLookingFurther)
{
    std::string six;
    for (int i = 0; i < 6; ++i)
        six += kUtf8A;
    EXPECT_EQ(Encoding::Utf8, DetectEncoding((six + kSjisA).c_str()));
    std::string five;
    for (int i = 0; i < 5; ++i)
        five += kUtf8A;
    EXPECT_EQ(Encoding::Native, DetectEncoding((five + kSjisA).c_str()));
}

// The walk's lead bytes are the code page's and 0xFF; the code page's are what the conversion decodes as
// the first of two bytes (checked against the conversion itself, the system's own on Windows).
TEST(IsSjisLeadByteTest, MatchesTheLeadRanges)
{
    for (unsigned char b : {0x81, 0x9F, 0xE0, 0xFC, 0xFF})
        EXPECT_EQ(1, IsSjisLeadByte(&b)) << int(b);
    for (unsigned char b : {0x00, 0x41, 0x7F, 0x80, 0xA0, 0xDF, 0xFD, 0xFE})
        EXPECT_EQ(0, IsSjisLeadByte(&b)) << int(b);
    for (int b = 0x80; b <= 0xFF; ++b) {
        const char pair[3] = {static_cast<char>(b), '\x40', 0};
        std::wstring wide;
        ASSERT_TRUE(BytesToUtf16(CodePage::ShiftJis, pair, false, wide)) << b;
        EXPECT_EQ(IsShiftJisLeadByte(static_cast<unsigned char>(b)), wide.size() == 1) << b;
        EXPECT_EQ(IsShiftJisLeadByte(static_cast<unsigned char>(b)) || b == 0xFF,
                  IsSjisLeadByte(reinterpret_cast<const unsigned char*>(pair)) == 1) << b;
    }
}

TEST(DecodeCharTest, ShiftJisDoubleByteIsOneCharacter)
{
    uint32_t code = 0;
    EXPECT_EQ(2u, DecodeChar(&code, "\x83\x5C", Encoding::Native));
    EXPECT_EQ(0x835Cu, code);
    EXPECT_EQ(1u, DecodeChar(&code, "\xB1", Encoding::Native));  // half-width katakana: one byte
    EXPECT_EQ(0xB1u, code);
}

TEST(DecodeCharTest, Utf8SurrogatePairsJoin)
{
    uint32_t code = 0;
    EXPECT_EQ(6u, DecodeChar(&code, "\xED\xA0\xBD\xED\xB8\x80", Encoding::Utf8));
    EXPECT_EQ(0x1F600u, code);
    EXPECT_EQ(3u, DecodeChar(&code, "\xED\xA0\xBD" "a", Encoding::Utf8));  // lone high surrogate stays alone
    EXPECT_EQ(0xD83Du, code);
    EXPECT_EQ(4u, DecodeChar(&code, "\xF0\x9F\x98\x80", Encoding::Utf8));
    EXPECT_EQ(0x1F600u, code);
}

TEST(DecodeCharTest, NeverStepsPastTheTerminator)
{
    uint32_t code = 0;
    EXPECT_EQ(1u, DecodeChar(&code, "\x83", Encoding::Native));
    EXPECT_EQ(0x83u, code);
    EXPECT_EQ(1u, DecodeChar(&code, "\xE3\x81", Encoding::Utf8));
    EXPECT_EQ(1u, DecodeUtf8Char(&code, "\xFF\x80\x80"));
    EXPECT_EQ(0u, DecodeChar(&code, "a", 7));
}

TEST(ConversionTest, SameNameInShiftJisAndUtf8GivesTheSameWideText)
{
    std::wstring fromSjis, fromUtf8;
    ASSERT_TRUE(MultiByteToWide(kSjisName, fromSjis));
    ASSERT_TRUE(MultiByteToWide(kUtf8Name, fromUtf8));
    EXPECT_EQ(fromSjis, fromUtf8);
    EXPECT_EQ(std::wstring(L"\u30B2\u30FC\u30E0.arc"), fromSjis);
}

TEST(ConversionTest, ToMultiByteCopiesOrConverts)
{
    std::string out;
    ASSERT_TRUE(ToMultiByte("data01200.arc", Encoding::Native, out));
    EXPECT_EQ("data01200.arc", out);
    ASSERT_TRUE(ToMultiByte(kUtf8Name, Encoding::Utf8, out));
    EXPECT_EQ(kUtf8Name, out);
    ASSERT_TRUE(ToMultiByte(kSjisName, Encoding::Utf8, out));
    EXPECT_EQ(kUtf8Name, out);
    ASSERT_TRUE(ToMultiByte(kUtf8Name, Encoding::Native, out));
    EXPECT_EQ(kSjisName, out);
}

TEST(ConversionTest, WideToMultiByteInBothCodePages)
{
    std::string out;
    ASSERT_TRUE(WideToMultiByte(L"\u30B2\u30FC\u30E0.arc", Encoding::Native, out));
    EXPECT_EQ(kSjisName, out);
    ASSERT_TRUE(WideToMultiByte(L"\u30B2\u30FC\u30E0.arc", Encoding::Utf8, out));
    EXPECT_EQ(kUtf8Name, out);
    ASSERT_TRUE(WideToMultiByte(L"", Encoding::Utf8, out));
    EXPECT_EQ("", out);
}

TEST(ConversionTest, StrictConversionRefusesWhatDoesNotConvert)
{
    std::string out = "unchanged";
    // U+00E9 has no code page 932 form.
    EXPECT_FALSE(WideToMultiByte(L"caf\u00E9", Encoding::Native, out, true));
    EXPECT_EQ("unchanged", out);
    std::string lax;
    EXPECT_TRUE(WideToMultiByte(L"caf\u00E9", Encoding::Native, lax, false));  // a replacement character instead
    // A Shift-JIS lead byte followed by a byte that cannot trail.
    EXPECT_FALSE(ToMultiByte("\x81\x20", Encoding::Utf8, out, true));
    EXPECT_FALSE(ToMultiByte("\x81\x20", Encoding::Native, out, true));
    EXPECT_EQ("unchanged", out);
    std::wstring wide = L"unchanged";
    EXPECT_FALSE(MultiByteToWide("\x81\x20", wide, true));
    EXPECT_EQ(L"unchanged", wide);
}
