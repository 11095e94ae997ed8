// Acting on another thread's or process's windows as a user would: finding message boxes, reading them,
// and pressing their buttons, through the window manager alone.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

struct BoxInfo {
    std::wstring caption;
    std::wstring text;
    std::vector<int> buttons;  // ids of the visible buttons (IDOK, IDYES, IDNO, ...)
    int defaultButton = 0;
    HWND owner = nullptr;
    LONG style = 0;
};

// A visible top-level dialog-class window (a message box, or any dialog) of the process, other than
// `exclude`; null when there is none.
HWND FindDialogWindow(DWORD processId, HWND exclude);
// Waits up to timeoutMs for such a window.
HWND WaitForDialogWindow(DWORD processId, HWND exclude, DWORD timeoutMs);
BoxInfo ReadMessageBox(HWND box);
std::wstring WindowText(HWND window);
// Presses the button with this id, as a click would.
void PressButton(HWND box, int id);
// Presses Enter in the box: its default button answers.
void PressEnter(HWND box);
