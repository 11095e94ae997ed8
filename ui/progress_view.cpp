// The progress dialog's controls as the copy phase drives them.
#include "ui/progress_view.h"

#include <commctrl.h>

#include "ui/resource.h"

namespace {

// A frame of a 60 Hz screen: a paint more often could not be seen.
const ULONGLONG kFrameMs = 16;

// The item bar's property that leads its procedure to the view.
const wchar_t kViewProperty[] = L"ProgressView";

bool FrameDue(const ProgressView& view) { return GetTickCount64() - view.paintedAt >= kFrameMs; }

// In front of the item bar's own procedure while the view holds its paints: the paint a new position asks
// for within a frame is put off (the bar's area counted as drawn, the old picture left standing) until
// PaintIfDue. Any other paint, such as when something uncovers the dialog, is the bar's own.
LRESULT CALLBACK HeldItemBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* view = static_cast<ProgressView*>(GetPropW(bar, kViewProperty));
    // A bar being destroyed may have lost its properties already: its class's procedure ends it.
    const WNDPROC own = view ? view->itemBarProc : reinterpret_cast<WNDPROC>(GetClassLongPtrW(bar, GCLP_WNDPROC));
    if (view && message == WM_PAINT && view->swallowing) {
        ValidateRect(bar, nullptr);
        view->unpainted = true;
        return 0;
    }
    if (view && message == WM_PAINT) {
        view->unpainted = false;
        view->paintedAt = GetTickCount64();
    }
    return CallWindowProcW(own, bar, message, wParam, lParam);
}

void GiveBar(ProgressView& view, ProgressBar bar, uint32_t position)
{
    view.swallowing = bar == kItemBar && view.holding && !FrameDue(view);
    SendMessageW(view.bars[bar], PBM_SETPOS, position, 0);
    view.swallowing = false;
    view.sent[bar] = position;
}

void PaintItemBar(ProgressView& view)
{
    if (view.bars[kItemBar] && view.unpainted)
        RedrawWindow(view.bars[kItemBar], nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    view.unpainted = false;
}

}  // namespace

void OpenProgressView(ProgressView& view, HWND dialog, uint32_t entries)
{
    if (dialog) {
        view.status = GetDlgItem(dialog, IDC_STATUS_LINE);
        view.bars[kItemBar] = GetDlgItem(dialog, IDC_ITEM_BAR);
        view.bars[kEntriesBar] = GetDlgItem(dialog, IDC_TOTAL_BAR);
    }
    view.ranges[kItemBar] = 65535;
    view.ranges[kEntriesBar] = entries;
    for (ProgressBar bar : {kItemBar, kEntriesBar}) {
        if (view.bars[bar]) {
            SendMessageW(view.bars[bar], PBM_SETRANGE32, 0, view.ranges[bar]);
            GiveBar(view, bar, 0);
        }
    }
}

void HoldProgressPaints(ProgressView& view)
{
    const HWND bar = view.bars[kItemBar];
    if (!bar || !SetPropW(bar, kViewProperty, &view))
        return;
    view.itemBarProc =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(HeldItemBarProc)));
    if (!view.itemBarProc) {
        RemovePropW(bar, kViewProperty);
        return;
    }
    view.holding = true;
    view.unpainted = false;
    view.paintedAt = 0;  // the first position paints at once
}

void ReleaseProgressPaints(ProgressView& view)
{
    if (!view.holding)
        return;
    SettleBar(view, kItemBar);
    SettleBar(view, kEntriesBar);
    view.holding = false;
    if (IsWindow(view.bars[kItemBar])) {  // a dialog closed meanwhile is gone with its property
        SetWindowLongPtrW(view.bars[kItemBar], GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(view.itemBarProc));
        RemovePropW(view.bars[kItemBar], kViewProperty);
        PaintItemBar(view);
    }
    view.itemBarProc = nullptr;
}

void PaintIfDue(ProgressView& view)
{
    if (view.holding && view.unpainted && FrameDue(view))
        PaintItemBar(view);
}

void ShowStatusText(ProgressView& view, const wchar_t* text)
{
    if (!view.status || view.statusText == text)
        return;
    SetWindowTextW(view.status, text);
    view.statusText = text;
    UpdateWindow(view.status);
}

void MoveBar(ProgressView& view, ProgressBar bar, uint32_t position)
{
    view.wanted[bar] = position;
    if (!view.bars[bar])
        return;
    const uint32_t step = (view.ranges[bar] + 255) / 256;
    const uint32_t moved = position > view.sent[bar] ? position - view.sent[bar] : view.sent[bar] - position;
    if (position == 0 || position == view.ranges[bar] || moved >= step)
        GiveBar(view, bar, position);
}

void SettleBar(ProgressView& view, ProgressBar bar)
{
    if (view.bars[bar] && view.sent[bar] != view.wanted[bar])
        GiveBar(view, bar, view.wanted[bar]);
}
