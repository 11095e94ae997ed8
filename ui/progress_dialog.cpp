// The progress dialog's procedure, its Cancel confirmation, and its placement.
#include "ui/progress_dialog.h"

#include <commctrl.h>

#include "ui/app_state.h"
#include "ui/messages.h"
#include "ui/resource.h"
#include "util/base/system_functions_win.h"

std::vector<MonitorRecord> g_monitorList;

namespace {

void ConfirmCancel(HWND dialog)
{
    if (g_cancelRequested)
        return;
    if (MessageBoxW(dialog, GetMessageText(kMsgConfirmCancel), g_titleText,
                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
        return;
    g_cancelRequested = 1;
    if (HWND button = GetDlgItem(dialog, IDC_CANCEL_BUTTON))
        EnableWindow(button, FALSE);
}

}  // namespace

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_CLOSE:
        g_abortRequested = 1;
        DestroyWindow(dialog);
        g_hProgressDlg = nullptr;
        return TRUE;
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CANCEL_BUTTON && HIWORD(wParam) == BN_CLICKED) {
            ConfirmCancel(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        // No close box and no Alt+F4: only a WM_CLOSE from outside removes the dialog.
        return (wParam & 0xFFF0) == SC_CLOSE ? TRUE : FALSE;
    default:
        return FALSE;
    }
}

bool RegisterProgressBarClass()
{
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    // Loaded from System32 and kept for the life of the process: the class lives in this module.
    auto init = ResolveSystem<InitFn>(ResolveSystemFunction(L"comctl32.dll", "InitCommonControlsEx"));
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_PROGRESS_CLASS};
    return init && init(&icc);
}

BOOL CALLBACK AddMonitorRecord(HMONITOR, HDC, LPRECT rect, LPARAM)
{
    g_monitorList.push_back({static_cast<int>(g_monitorList.size()), *rect});
    return TRUE;
}

void BuildMonitorList() { EnumDisplayMonitors(nullptr, nullptr, AddMonitorRecord, 0); }

int GetMonitorRect(RECT* rect, int index)
{
    for (const MonitorRecord& m : g_monitorList) {
        if (m.index == index) {
            *rect = m.rect;
            return 1;
        }
    }
    return 0;
}

void FreeMonitorList() { std::vector<MonitorRecord>().swap(g_monitorList); }

POINT CenteredPosition(const RECT& window, const RECT& monitor)
{
    // The monitor's own left and top are not added: the first monitor is taken to start at the origin.
    POINT p;
    p.x = ((monitor.right - monitor.left) - (window.right - window.left)) / 2;
    p.y = ((monitor.bottom - monitor.top) - (window.bottom - window.top)) / 2;
    return p;
}

void CenterDialogOnMonitor(HWND window)
{
    RECT windowRect, monitorRect;
    if (!GetWindowRect(window, &windowRect) || !GetMonitorRect(&monitorRect, 0))
        return;
    POINT p = CenteredPosition(windowRect, monitorRect);
    SetWindowPos(window, nullptr, p.x, p.y, 0, 0, SWP_NOSIZE);
}
