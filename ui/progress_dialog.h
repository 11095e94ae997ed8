// The modeless progress dialog: its procedure, the progress bar's window class, and its placement on the
// first monitor. The update driver keeps it alive through the message pump (ui/message_pump.h).
#pragma once
#include <windows.h>

#include <vector>

struct MonitorRecord {
    int index;  // 0 for the first monitor enumerated
    RECT rect;  // screen coordinates
};

extern std::vector<MonitorRecord> g_monitorList;

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the progress-bar window class. comctl32 is loaded from System32 only, never from the folder
// the updater was started from. True when the class can be used.
bool RegisterProgressBarClass();

void BuildMonitorList();
BOOL CALLBACK AddMonitorRecord(HMONITOR monitor, HDC dc, LPRECT rect, LPARAM data);
int GetMonitorRect(RECT* rect, int index);
void FreeMonitorList();

// Where the dialog goes: centred on the size of monitor 0, measured from the screen origin.
POINT CenteredPosition(const RECT& window, const RECT& monitor);
// Moves the window there; without a monitor record 0 it stays where the template put it.
void CenterDialogOnMonitor(HWND window);

