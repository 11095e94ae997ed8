// The languages the updater speaks, and which one a user's UI language picks.
#include "ui/languages.h"

#include <windows.h>

#include "ui/app_state.h"
#include "ui/resource.h"

const Language kLanguages[] = {
    {kLanguageEnglish, LANG_ENGLISH, IDD_PROGRESS_ENGLISH},
    {kLanguageJapanese, LANG_JAPANESE, IDD_PROGRESS_JAPANESE},
};
const size_t kLanguageCount = sizeof kLanguages / sizeof kLanguages[0];

size_t LanguageIndex(int32_t id)
{
    for (size_t i = 0; i < kLanguageCount; ++i)
        if (kLanguages[i].id == id)
            return i;
    return 0;
}

const Language& LanguageForUi(uint16_t uiLanguage)
{
    for (size_t i = 0; i < kLanguageCount; ++i)
        if (kLanguages[i].primary == PRIMARYLANGID(uiLanguage))
            return kLanguages[i];
    return kLanguages[0];
}
