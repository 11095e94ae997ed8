// The message catalogue in both languages, and its texts as the toolchain delivered them.
#include <gtest/gtest.h>

#include <cwchar>

#include "ui/app_state.h"
#include "ui/languages.h"
#include "ui/messages.h"

namespace {
class MessagesTest : public ::testing::Test {
protected:
    void TearDown() override { g_uiLanguage = kLanguageEnglish; }
};
}  // namespace

TEST_F(MessagesTest, EnglishBeforeTheLanguageIsSet)
{
    EXPECT_STREQ(L"Install the update?", GetMessageText(kMsgConfirmInstall));
}

TEST_F(MessagesTest, EachLanguageGetsItsOwnColumn)
{
    g_uiLanguage = kLanguageEnglish;
    EXPECT_STREQ(L"Installation complete.", GetMessageText(12));
    EXPECT_STREQ(L"Error", GetMessageText(18));
    EXPECT_STREQ(L"This update does not apply to the installed version of the game.", GetMessageText(19));
    EXPECT_STREQ(L"Update cannot be installed because the game is currently running.", GetMessageText(17));
    g_uiLanguage = kLanguageJapanese;
    // Written as escapes so that a mangled source encoding cannot pass.
    EXPECT_STREQ(L"\u30A8\u30E9\u30FC", GetMessageText(18));
    EXPECT_STREQ(L"\u3053\u306E\u30A2\u30C3\u30D7\u30C7\u30FC\u30C8\u306F\u3001\u30A4\u30F3\u30B9\u30C8\u30FC"
                 L"\u30EB\u3055\u308C\u3066\u3044\u308B\u30B2\u30FC\u30E0\u306E\u30D0\u30FC\u30B8\u30E7\u30F3"
                 L"\u306B\u306F\u9069\u7528\u3067\u304D\u307E\u305B\u3093\u3002",
                 GetMessageText(kMsgDoesNotApply));
    EXPECT_STREQ(L"\u30A2\u30C3\u30D7\u30C7\u30FC\u30C8\u3092\u884C\u3044\u307E\u3059\u304B\uFF1F", GetMessageText(5));
    EXPECT_STREQ(L"\u300C\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066\u300D Updater ver 1.01", GetMessageText(0));
    // Every language has a text of its own for every id.
    for (uint32_t id = 0; id <= 19; ++id) {
        g_uiLanguage = kLanguageEnglish;
        const std::wstring en = GetMessageText(id);
        EXPECT_FALSE(en.empty()) << id;
        for (size_t l = 1; l < kLanguageCount; ++l) {
            g_uiLanguage = kLanguages[l].id;
            EXPECT_NE(en, GetMessageText(id)) << id << " in language " << kLanguages[l].id;
        }
    }
    // The user's UI language picks its row; any other speaks English, also to a language id no row has.
    EXPECT_EQ(kLanguageJapanese, LanguageForUi(0x0411).id);
    EXPECT_EQ(kLanguageEnglish, LanguageForUi(0x0409).id);
    EXPECT_EQ(kLanguageEnglish, LanguageForUi(0x040C).id);
    g_uiLanguage = 7;
    EXPECT_STREQ(L"Error", GetMessageText(18));
}

TEST_F(MessagesTest, UnknownIdsGiveTheEmptyTextNeverNull)
{
    for (size_t l = 0; l < kLanguageCount; ++l) {
        g_uiLanguage = kLanguages[l].id;
        for (uint32_t id : {20u, 100u, 0xFFFFFFFFu}) {
            ASSERT_NE(nullptr, GetMessageText(id));
            EXPECT_STREQ(L"", GetMessageText(id));
        }
    }
}

TEST_F(MessagesTest, FormatAndLineFeedsInBothLanguages)
{
    for (size_t l = 0; l < kLanguageCount; ++l) {
        g_uiLanguage = kLanguages[l].id;
        std::wstring format = GetMessageText(kMsgInstalling);
        size_t first = format.find(L"%s");
        ASSERT_NE(std::wstring::npos, first);
        EXPECT_EQ(std::wstring::npos, format.find(L'%', first + 1));
        EXPECT_NE(nullptr, wcschr(GetMessageText(3), L'\n'));
    }
    g_uiLanguage = kLanguageEnglish;
    EXPECT_STREQ(L"Installing \"%s\".", GetMessageText(kMsgInstalling));
    EXPECT_STREQ(L"\"\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066\" was not found in the folder you selected.",
                 GetMessageText(6));
}
