// The languages the updater speaks, and which one a user's UI language picks.
#include "ui/languages.h"

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
