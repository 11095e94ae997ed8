// Prints every conversion the system makes between code page 932, UTF-8 and UTF-16, and its case table,
// one line a case. The Windows build (under Wine) and the native build must print the same lines.
#include <cstdint>
#include <cstdio>
#include <string>

#include "util/text/code_page.h"

namespace {

void PrintUnits(const std::wstring& units)
{
    for (wchar_t u : units)
        printf(" %04X", static_cast<unsigned>(u) & 0xFFFF);
}

void Decode(const char* tag, CodePage page, const std::string& bytes)
{
    for (bool strict : {false, true}) {
        printf("%s%c", tag, strict ? 's' : 'n');
        for (unsigned char b : bytes)
            printf(" %02X", b);
        printf(" :");
        std::wstring out;
        if (BytesToUtf16(page, bytes.c_str(), strict, out))
            PrintUnits(out);
        else
            printf(" fails");
        printf("\n");
    }
}

void Encode(const char* tag, CodePage page, const std::wstring& units, bool strict)
{
    printf("%s%c", tag, strict ? 's' : 'n');
    PrintUnits(units);
    printf(" :");
    std::string out;
    if (Utf16ToBytes(page, units.c_str(), strict, out))
        for (unsigned char b : out)
            printf(" %02X", b);
    else
        printf(" fails");
    printf("\n");
}

}  // namespace

int main()
{
    for (int lead = 1; lead < 256; ++lead) {
        Decode("J1", CodePage::ShiftJis, std::string(1, static_cast<char>(lead)));
        Decode("U1", CodePage::Utf8, std::string(1, static_cast<char>(lead)));
    }
    for (int lead = 0x80; lead < 256; ++lead)
        for (int trail = 1; trail < 256; ++trail) {
            const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            Decode("J2", CodePage::ShiftJis, pair);
            Decode("U2", CodePage::Utf8, pair);
        }
    // Longer UTF-8 sequences at the edges of what is valid: overlong forms, surrogates, beyond U+10FFFF,
    // and sequences cut short.
    const int seconds[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0};
    const int laters[] = {0x41, 0x80, 0xBF, 0xC0};
    for (int lead = 0xE0; lead < 256; ++lead)
        for (int second : seconds)
            for (int third : laters) {
                Decode("U3", CodePage::Utf8, {static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third)});
                for (int fourth : laters)
                    Decode("U4", CodePage::Utf8, {static_cast<char>(lead), static_cast<char>(second),
                                                  static_cast<char>(third), static_cast<char>(fourth)});
            }
    // Runs of bytes mixed from the edges of both code pages, the same on every system.
    const unsigned char alphabet[] = {0x41, 0x5C, 0x7F, 0x80, 0x81, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0,
                                      0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFC, 0xFD, 0xFF, 0x40, 0x8F, 0x90, 0x0A};
    uint32_t seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        std::string run;
        for (int n = 1 + i % 9; n > 0; --n) {
            seed = seed * 1103515245u + 12345u;
            run += static_cast<char>(alphabet[(seed >> 16) % sizeof alphabet]);
        }
        Decode("JR", CodePage::ShiftJis, run);
        Decode("UR", CodePage::Utf8, run);
    }
    for (unsigned unit = 1; unit < 0x10000; ++unit) {
        const std::wstring one(1, static_cast<wchar_t>(unit));
        Encode("JE", CodePage::ShiftJis, one, false);
        Encode("UE", CodePage::Utf8, one, false);
        Encode("UE", CodePage::Utf8, one, true);
        const wchar_t upper = UpperCaseUnit(static_cast<wchar_t>(unit));
        printf("C %04X : %04X %d %d\n", unit, static_cast<unsigned>(upper) & 0xFFFF,
               SameTextIgnoringCase(one, std::wstring(1, upper)),
               SameTextIgnoringCase(one, std::wstring(1, static_cast<wchar_t>(unit ^ 0x20))));
    }
    // Surrogate pairs, whole and broken, into UTF-8.
    for (const std::wstring& units : {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, std::wstring{wchar_t(0xDBFF), wchar_t(0xDFFF)},
                                      std::wstring{wchar_t(0xD800), wchar_t(0x41)}, std::wstring{wchar_t(0xDC00), wchar_t(0xD800)},
                                      std::wstring{wchar_t(0xD800), wchar_t(0xD800), wchar_t(0xDC00)}})
        for (bool strict : {false, true}) {
            Encode("UP", CodePage::Utf8, units, strict);
            Encode("JP", CodePage::ShiftJis, units, false);
        }
    return 0;
}
