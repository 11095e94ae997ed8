// The languages the updater speaks: one row each, English first (what any other language falls back to).
// Adding a language is a row here (its value of g_uiLanguage, the Windows language that picks it, the
// resource id of its progress dialog), a column in the message table (messages.cpp, whose width is
// kLanguageCount) and its dialog template in dialogs.rc under that id; nothing else names a language.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>


struct Language {
    int32_t id;            // the value g_uiLanguage holds while the updater speaks it
    uint16_t primary;      // the Windows primary language id (LANG_*) that chooses it
    int progressTemplate;  // the progress dialog's template, laid out for its texts
};

// The two values of g_uiLanguage the program names.
const int32_t kLanguageJapanese = 1;
const int32_t kLanguageEnglish = 2;

inline constexpr Language kLanguages[] = {
    {kLanguageEnglish, LANG_ENGLISH, 103},
    {kLanguageJapanese, LANG_JAPANESE, 102},
};
inline constexpr size_t kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

// The row of `id`, or English's for an id no row has.
size_t LanguageIndex(int32_t id);
// The language for the user's UI language (a LANGID): its primary language's row, or English.
const Language& LanguageForUi(uint16_t uiLanguage);
