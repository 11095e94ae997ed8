// The message pump that the update driver calls at its progress points; the dialog has no loop of its own.
#include "ui/message_pump.h"

#include "ui/app_state.h"
#include "ui/progress_dialog.h"

namespace {
// The quit signal: raised when WM_QUIT is taken from the queue and caught before the pump returns.
struct QuitSignal {
    int code;
};
}  // namespace

int PumpMessages()
{
    try {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                throw QuitSignal{0};
            if (g_hProgressDlg && IsDialogMessageW(g_hProgressDlg, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    } catch (...) {
        return 1;
    }
    return 0;
}
