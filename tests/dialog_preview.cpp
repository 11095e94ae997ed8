// dialog_preview: shows the updater's progress dialog, from the updater's own resources, as a user sees it
// in the middle of an update, for the README's screenshots. Usage: dialog_preview UPDATER.exe 102|103 SECONDS
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>

#include "ui/app_state.h"
#include "ui/languages.h"
#include "ui/message_pump.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    HMODULE resources = LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const int templateId = _wtoi(argv[2]);
    for (size_t i = 0; i < kLanguageCount; ++i)
        if (kLanguages[i].progressTemplate == templateId)
            g_uiLanguage = kLanguages[i].id;
    wcscpy(g_titleText, L"\u300C\u785D\u5B50\u306E\u7FBD\u3092\u6570\u3048\u3066\u300D Updater ver 1.01");
    if (!resources || !RegisterProgressBarClass())
        return 1;
    g_hProgressDlg = CreateDialogParamW(resources, MAKEINTRESOURCEW(templateId), nullptr, ProgressDialogProc, 0);
    if (!g_hProgressDlg)
        return 1;
    SetWindowTextW(g_hProgressDlg, g_titleText);
    wchar_t status[256];
    _snwprintf(status, 255, GetMessageText(kMsgInstalling), L"Archive\\data01520.arc");
    SetDlgItemTextW(g_hProgressDlg, IDC_STATUS_LINE, status);
    SendDlgItemMessageW(g_hProgressDlg, IDC_ITEM_BAR, PBM_SETRANGE32, 0, 65535);
    SendDlgItemMessageW(g_hProgressDlg, IDC_ITEM_BAR, PBM_SETPOS, 43689, 0);
    SendDlgItemMessageW(g_hProgressDlg, IDC_TOTAL_BAR, PBM_SETRANGE32, 0, 8);
    SendDlgItemMessageW(g_hProgressDlg, IDC_TOTAL_BAR, PBM_SETPOS, 4, 0);
    BuildMonitorList();
    CenterDialogOnMonitor(g_hProgressDlg);
    ShowWindow(g_hProgressDlg, SW_SHOW);
    // Shown for the seconds asked, answering its messages as they come.
    const ULONGLONG end = GetTickCount64() + 1000ull * _wtoi(argv[3]);
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        PumpMessages();
    }
    return 0;
}
