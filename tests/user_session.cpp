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

// Adds a visible dialog-class window of the process to its dialog or its boxes. The process is asked
// first: each question about another process's window is a round trip to the window server that the
// updater's own calls wait behind, and most windows are not the updater's.
BOOL CALLBACK CollectWindows(HWND window, LPARAM data)
{
    auto* state = reinterpret_cast<std::pair<DWORD, Windows*>*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != state->first)
        return TRUE;
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    if (wcscmp(cls, L"#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (GetDlgItem(window, IDC_TOTAL_BAR))
        state->second->dialog = window;
    else
        state->second->boxes.push_back(window);
    return TRUE;
}

// The bars' positions, asked without waiting (SendMessageCallback): the updater answers every question
// outstanding at each of its pumps, the last one right after it sets the final positions, when it no longer
// answers a question that waits. Questions still outstanding when the dialog goes are answered with 0.
// A run's readings live on the heap and are never freed: an answer to a question of this run may still come
// during a later one (a few bytes a run).
struct BarReadings {
    int outstanding = 0;
    int item = -1;           // the item bar's answer that the next entries-bar answer is paired with
    bool totalSeen = false;  // an entries-bar answer above 0 came: a later 0 comes from a dialog that is gone
    int itemLast = -1, totalLast = -1;
};

void CALLBACK OnItemPosition(HWND, UINT, ULONG_PTR data, LRESULT result)
{
    auto* r = reinterpret_cast<BarReadings*>(data);
    --r->outstanding;
    r->item = static_cast<int>(result);
}

void CALLBACK OnTotalPosition(HWND, UINT, ULONG_PTR data, LRESULT result)
{
    auto* r = reinterpret_cast<BarReadings*>(data);
    --r->outstanding;
    if (result == 0 && r->totalSeen)
        return;
    r->totalSeen = r->totalSeen || result > 0;
    r->itemLast = r->item;
    r->totalLast = static_cast<int>(result);
}

void AskBarPositions(HWND dialog, BarReadings& readings)
{
    if (readings.outstanding >= 16)
        return;
    const ULONG_PTR data = reinterpret_cast<ULONG_PTR>(&readings);
    if (SendMessageCallbackW(GetDlgItem(dialog, IDC_ITEM_BAR), PBM_GETPOS, 0, 0, OnItemPosition, data))
        ++readings.outstanding;
    if (SendMessageCallbackW(GetDlgItem(dialog, IDC_TOTAL_BAR), PBM_GETPOS, 0, 0, OnTotalPosition, data))
        ++readings.outstanding;
}

// Delivers the answers that came (callbacks run inside this thread's message retrieval).
void TakeAnswers()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&message);
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
    t.started = StartProcess(L"\"" + script.updater + L"\"", false, si, pi, &t.startError);
    if (!t.started)
        return t;

    const ULONGLONG startTick = GetTickCount64();
    ULONGLONG yesTick = 0, finalTick = 0;
    std::vector<HWND> answered;
    bool timedOut = false;
    bool acted = script.action == UserScript::None;
    BarReadings& readings = *new BarReadings;
    ULONGLONG statusSince = 0;
    const ULONGLONG end = GetTickCount64() + script.timeoutMs;
    while (WaitForSingleObject(pi.hProcess, script.pollMs) == WAIT_TIMEOUT) {
        TakeAnswers();
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
        t.sawDialog = t.sawDialog || w.dialog;
        if (w.dialog && script.readDialog) {
            // Each read below waits for the updater's next pump; the bars are asked before each, so that
            // every pump, the last one too, answers for them. A dialog that is going away answers with
            // empty texts: keep what it showed while it lived.
            AskBarPositions(w.dialog, readings);
            std::wstring caption = WindowText(w.dialog);
            AskBarPositions(w.dialog, readings);
            std::wstring cancel = WindowText(GetDlgItem(w.dialog, IDC_CANCEL_BUTTON));
            if (!caption.empty())
                t.dialogCaption = caption;
            if (!cancel.empty())
                t.cancelCaption = cancel;
            AskBarPositions(w.dialog, readings);
            std::wstring status = WindowText(GetDlgItem(w.dialog, IDC_STATUS_LINE));
            const ULONGLONG readTick = GetTickCount64();
            if (!status.empty() && (t.statusLines.empty() || t.statusLines.back() != status)) {
                if (!t.statusShownMs.empty())  // the line before stood until now
                    t.statusShownMs.back() = static_cast<unsigned long>(readTick - statusSince);
                t.statusLines.push_back(status);
                t.statusShownMs.push_back(0);
                statusSince = readTick;
            } else if (!status.empty()) {
                t.statusShownMs.back() = static_cast<unsigned long>(readTick - statusSince);
            }
            if (!status.empty()) {
                ++t.copyReadings;
                for (int id : {IDC_STATUS_LINE, IDC_ITEM_BAR, IDC_TOTAL_BAR})
                    if (!IsWindowVisible(GetDlgItem(w.dialog, id))) {
                        ++t.hiddenControlReadings;
                        break;
                    }
            }
            AskBarPositions(w.dialog, readings);
            DWORD_PTR value = 0;
            HWND total = GetDlgItem(w.dialog, IDC_TOTAL_BAR);
            if (SendMessageTimeoutW(total, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &value))
                t.totalBarMax = static_cast<int>(value);
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
    // The answers to questions outstanding when the process ended come now, or never.
    WaitUntil([&] {
        TakeAnswers();
        return readings.outstanding == 0;
    }, 1000);
    t.itemBarLast = readings.itemLast;
    t.totalBarLast = readings.totalLast;
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

const unsigned long kFrameMs = 17;

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
    // The dialog is read from outside whenever the updater answers. A line replaced within one frame of a
    // 60 Hz screen may never have been drawn: it is counted, not shown.
    if (!t.statusLines.empty())
        out += "status lines, in order:\n";
    int brief = 0;
    for (size_t i = 0; i < t.statusLines.size(); ++i) {
        if (i + 1 < t.statusLines.size() && t.statusShownMs[i] < kFrameMs)
            ++brief;
        else
            out += "  " + Narrow(t.statusLines[i]) + "\n";
    }
    if (brief)
        out += "  (and " + std::to_string(brief) + " more replaced within a screen frame, " + std::to_string(kFrameMs) +
               " ms)\n";
    if (t.totalBarMax >= 0)
        out += "bars as the updater last answered: item " + std::to_string(t.itemBarLast) + " of 65535, entries " +
               std::to_string(t.totalBarLast) + " of " + std::to_string(t.totalBarMax) + "\n";
    char code[64];
    snprintf(code, sizeof code, "exit code: %ld (0x%08lX)%s\n", static_cast<long>(static_cast<int>(t.exitCode)),
             t.exitCode, t.killed ? " -- killed on purpose" : t.finished ? "" : " -- killed after the time limit");
    if (!t.started)
        out += "the updater could not be started: error " + std::to_string(t.startError) + "\n";
    return out + code;
}
