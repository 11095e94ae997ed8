// Driving the updater's windows from another process, through the window manager only.
#include "tests/user_session.h"

#include <commctrl.h>

#include <algorithm>

#include "ui/resource.h"

namespace {

struct Windows {
    HWND dialog = nullptr;              // the progress dialog
    std::vector<HWND> boxes;            // message boxes
};

BOOL CALLBACK CollectWindows(HWND window, LPARAM data)
{
    auto* state = reinterpret_cast<std::pair<DWORD, Windows*>*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    if (pid != state->first || wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (GetDlgItem(window, IDC_TOTAL_BAR))
        state->second->dialog = window;
    else
        state->second->boxes.push_back(window);
    return TRUE;
}

Windows FindWindowsOf(DWORD pid)
{
    Windows w;
    std::pair<DWORD, Windows*> state(pid, &w);
    EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&state));
    return w;
}

std::string Narrow(const std::wstring& text)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], n, nullptr, nullptr);
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

}  // namespace

Transcript RunAsUser(const UserScript& script)
{
    Transcript t;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"\"" + script.updater + L"\"";
    t.started = CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
    if (!t.started)
        return t;

    const ULONGLONG startTick = GetTickCount64();
    ULONGLONG yesTick = 0, finalTick = 0;
    std::vector<HWND> answered;
    bool timedOut = false;
    bool acted = script.action == UserScript::None;
    const ULONGLONG end = GetTickCount64() + script.timeoutMs;
    while (WaitForSingleObject(pi.hProcess, script.pollMs) == WAIT_TIMEOUT) {
        if (GetTickCount64() > end) {
            timedOut = true;
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        if (script.killAfterMs && yesTick && GetTickCount64() - yesTick >= script.killAfterMs) {
            TerminateProcess(pi.hProcess, 0xDEAD);
            WaitForSingleObject(pi.hProcess, 5000);
            t.killed = true;
            break;
        }
        Windows w = FindWindowsOf(pi.dwProcessId);
        if (w.dialog) {
            t.sawDialog = true;
            // A dialog that is going away answers with empty texts: keep what it showed while it lived.
            std::wstring caption = WindowText(w.dialog);
            std::wstring cancel = WindowText(GetDlgItem(w.dialog, IDC_CANCEL_BUTTON));
            if (!caption.empty())
                t.dialogCaption = caption;
            if (!cancel.empty())
                t.cancelCaption = cancel;
            std::wstring status = WindowText(GetDlgItem(w.dialog, IDC_STATUS_LINE));
            if (!status.empty() && (t.statusLines.empty() || t.statusLines.back() != status))
                t.statusLines.push_back(status);
            DWORD_PTR value = 0;
            HWND total = GetDlgItem(w.dialog, IDC_TOTAL_BAR);
            if (SendMessageTimeoutW(total, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &value))
                t.totalBarMax = static_cast<int>(value);
            if (SendMessageTimeoutW(total, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &value))
                t.totalBarLast = static_cast<int>(value);
            if (!acted && static_cast<int>(t.statusLines.size()) >= script.atStatus) {
                acted = true;
                switch (script.action) {
                case UserScript::ClickCancelYes:
                case UserScript::ClickCancelNo:
                    PostMessageW(w.dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(w.dialog, IDC_CANCEL_BUTTON)));
                    break;
                case UserScript::CloseDialog:
                    PostMessageW(w.dialog, WM_CLOSE, 0, 0);
                    break;
                case UserScript::PostQuit:
                    PostThreadMessageW(GetWindowThreadProcessId(w.dialog, nullptr), WM_QUIT, 0, 0);
                    break;
                default:
                    break;
                }
            }
        }
        for (HWND box : w.boxes) {
            if (std::find(answered.begin(), answered.end(), box) != answered.end())
                continue;
            answered.push_back(box);
            SeenBox seen;
            seen.info = ReadMessageBox(box);
            seen.dialogPresent = w.dialog != nullptr;
            t.boxes.push_back(seen);
            const bool isCancelQuestion = seen.info.owner && seen.info.owner == w.dialog;
            const bool isConfirmation = seen.info.buttons.size() == 2 && !isCancelQuestion;
            int answer = IDOK;
            if (isCancelQuestion)
                answer = script.action == UserScript::ClickCancelYes ? IDYES : IDNO;
            else if (isConfirmation)
                answer = script.confirmAnswer;
            if (isConfirmation && script.beforeAnswer)
                script.beforeAnswer();
            if (isConfirmation && answer == IDYES)
                yesTick = GetTickCount64();
            else if (!isCancelQuestion && yesTick && !finalTick) {
                finalTick = GetTickCount64();
                if (script.beforeFinalAnswer)
                    script.beforeFinalAnswer();
            }
            if (answer == kPressEnter)
                PressEnter(box);
            else
                PressButton(box, answer);
            if (isCancelQuestion && w.dialog) {
                // The dialog's answer to the question is settled once the question is gone.
                WaitUntil([&] { return !IsWindow(box); }, 5000);
                t.cancelEnabledAfterAction = IsWindowEnabled(GetDlgItem(w.dialog, IDC_CANCEL_BUTTON)) != FALSE;
            }
        }
    }
    t.finished = !t.killed && WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0 && !timedOut;
    if (t.finished)
        GetExitCodeProcess(pi.hProcess, &t.exitCode);
    const ULONGLONG endTick = GetTickCount64();
    t.totalSeconds = (endTick - startTick) / 1000.0;
    if (yesTick)
        t.updateSeconds = ((finalTick ? finalTick : endTick) - yesTick) / 1000.0;

    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return t;
}

std::string Describe(const Transcript& t)
{
    std::string out;
    for (const SeenBox& b : t.boxes) {
        out += "box: [" + Narrow(b.info.caption) + "] " + Narrow(b.info.text) + " (buttons:";
        for (int id : b.info.buttons)
            out += id == IDOK ? " OK" : id == IDYES ? " Yes" : id == IDNO ? " No" : " " + std::to_string(id);
        out += std::string(", default ") +
               (b.info.defaultButton == IDYES ? "Yes" : b.info.defaultButton == IDNO ? "No" :
                b.info.defaultButton == IDOK ? "OK" : std::to_string(b.info.defaultButton)) + ")";
        out += b.dialogPresent ? " over the progress dialog\n" : "\n";
    }
    if (t.sawDialog)
        out += "progress dialog: [" + Narrow(t.dialogCaption) + "] with button [" + Narrow(t.cancelCaption) + "]\n";
    for (const std::wstring& s : t.statusLines)
        out += "status: " + Narrow(s) + "\n";
    if (t.totalBarMax >= 0)
        out += "items bar: " + std::to_string(t.totalBarLast) + " of " + std::to_string(t.totalBarMax) + "\n";
    char code[64];
    snprintf(code, sizeof code, "exit code: %ld (0x%08lX)%s\n", static_cast<long>(static_cast<int>(t.exitCode)),
             t.exitCode, t.killed ? " -- killed on purpose" : t.finished ? "" : " -- killed after the time limit");
    return out + code;
}
