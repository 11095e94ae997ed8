// Finding, reading and answering windows through the window manager.
#include "tests/window_driver.h"

#include "tests/testing_support.h"

namespace {

struct FindState {
    DWORD processId;
    HWND exclude;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM data)
{
    FindState* state = reinterpret_cast<FindState*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    if (pid == state->processId && window != state->exclude && IsWindowVisible(window) &&
        wcscmp(cls, L"#32770") == 0) {
        state->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectButton(HWND child, LPARAM data)
{
    auto* ids = reinterpret_cast<std::vector<int>*>(data);
    wchar_t cls[64] = L"";
    GetClassNameW(child, cls, 64);
    int id = GetDlgCtrlID(child);
    if (_wcsicmp(cls, L"Button") == 0 && IsWindowVisible(child) && id >= IDOK && id <= IDCONTINUE)
        ids->push_back(id);
    return TRUE;
}

}  // namespace

HWND FindDialogWindow(DWORD processId, HWND exclude)
{
    FindState state = {processId, exclude, nullptr};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&state));
    return state.found;
}

HWND WaitForDialogWindow(DWORD processId, HWND exclude, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialogWindow(processId, exclude)) != nullptr; }, timeoutMs);
    return found;
}

std::wstring WindowText(HWND window)
{
    wchar_t buffer[2048] = L"";
    SendMessageTimeoutW(window, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 5000, nullptr);
    return buffer;
}

BoxInfo ReadMessageBox(HWND box)
{
    BoxInfo info;
    info.caption = WindowText(box);
    // The message text is the static control with id 0xFFFF.
    if (HWND text = GetDlgItem(box, 0xFFFF))
        info.text = WindowText(text);
    EnumChildWindows(box, CollectButton, reinterpret_cast<LPARAM>(&info.buttons));
    // The default button is the one drawn as default: the box marks it BS_DEFPUSHBUTTON.
    for (int id : info.buttons) {
        if ((GetWindowLongW(GetDlgItem(box, id), GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON)
            info.defaultButton = id;
    }
    info.owner = GetWindow(box, GW_OWNER);
    info.style = GetWindowLongW(box, GWL_STYLE);
    return info;
}

void PressButton(HWND box, int id)
{
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

void PressEnter(HWND box)
{
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND target = box;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &gui) && gui.hwndFocus)
        target = gui.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, VK_RETURN, 1);
    PostMessageW(target, WM_KEYUP, VK_RETURN, 0xC0000001);
}
