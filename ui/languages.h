// The languages the updater speaks: one row each, English first (what any other language falls back to).
// Adding a language is a row here, a column in the message table (messages.cpp) and a dialog template in
// dialogs.rc; nothing else names a language.
#pragma once
#include <cstddef>
#include <cstdint>

struct Language {
    int32_t id;              // the value g_uiLanguage holds while the updater speaks it
    uint16_t primary;        // the Windows primary language id (LANG_*) that chooses it
    int progressTemplate;    // the progress dialog's template, laid out for its texts
};

extern const Language kLanguages[];
extern const size_t kLanguageCount;

// The row of `id`, or English's for an id no row has.
size_t LanguageIndex(int32_t id);
// The language for the user's UI language (a LANGID): its primary language's row, or English.
const Language& LanguageForUi(uint16_t uiLanguage);
