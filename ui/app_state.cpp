// Definitions of the process-wide state.
#include "ui/app_state.h"

int32_t g_uiLanguage = kLanguageEnglish;
wchar_t g_titleText[kTitleCapacity] = L"";
HWND g_hProgressDlg = nullptr;
int32_t g_cancelRequested = 0;
int32_t g_abortRequested = 0;
