// Process-wide state of the updater: the UI language, the title, the progress dialog and the stop flags.
#pragma once
#include <windows.h>

#include <cstdint>

const size_t kTitleCapacity = 1024;

extern int32_t g_uiLanguage;                 // a kLanguages id (ui/languages.h), set once at start-up; English until then
extern wchar_t g_titleText[kTitleCapacity];  // caption of every box and of the progress dialog
extern HWND g_hProgressDlg;                  // the progress dialog, or null
// Only ever set to 1. Cancel: the user confirmed Cancel. Abort: the dialog was closed or a quit arrived.
extern int32_t g_cancelRequested;
extern int32_t g_abortRequested;

