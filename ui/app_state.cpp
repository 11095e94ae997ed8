// Definitions of the process-wide state.
#include "ui/app_state.h"

#include "ui/languages.h"

int32_t g_uiLanguage = kLanguages[0].id;
wchar_t g_titleText[kTitleCapacity] = L"";
HWND g_hProgressDlg = nullptr;
int32_t g_cancelRequested = 0;
int32_t g_abortRequested = 0;
