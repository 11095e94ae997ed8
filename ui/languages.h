// The languages the updater speaks: one row each, English first (what any other language falls back to).
// Adding a language is a row here (with its value of g_uiLanguage), a column in the message table
// (messages.cpp, whose width is kLanguageCount) and a dialog template in dialogs.rc.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ui/app_state.h"
#include "ui/resource.h"

struct Language {
    int32_t id;            // the value g_uiLanguage holds while the updater speaks it
    uint16_t primary;      // the Windows primary language id (LANG_*) that chooses it
    int progressTemplate;  // the progress dialog's template, laid out for its texts
};

inline constexpr Language kLanguages[] = {
    {kLanguageEnglish, LANG_ENGLISH, IDD_PROGRESS_ENGLISH},
    {kLanguageJapanese, LANG_JAPANESE, IDD_PROGRESS_JAPANESE},
};
inline constexpr size_t kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

// The row of `id`, or English's for an id no row has.
size_t LanguageIndex(int32_t id);
// The language for the user's UI language (a LANGID): its primary language's row, or English.
const Language& LanguageForUi(uint16_t uiLanguage);
