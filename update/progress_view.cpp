// The progress dialog's controls as the copy phase drives them.
#include "update/progress_view.h"

#include <commctrl.h>

#include <utility>

#include "ui/resource.h"

namespace {

// A frame of a 60 Hz screen: a paint more often could not be seen.
const ULONGLONG kFrameMs = 16;

const unsigned kStatusBit = 4;
const unsigned kAllControls = 7;

// The dialog's property that leads its procedure to the frozen view.
const wchar_t kViewProperty[] = L"ProgressView";

unsigned BarBit(ProgressBar bar) { return 1u << bar; }

void SetRedraw(const ProgressView& view, BOOL on)
{
    const HWND controls[] = {view.status, view.bars[kItemBar], view.bars[kEntriesBar]};
    for (HWND control : controls) {
        if (control)
            SendMessageW(control, WM_SETREDRAW, on, 0);
    }
}

// Paints the controls told something since their last paint, now; a frozen one is thawed for its paint.
void PaintChanged(ProgressView& view)
{
    const std::pair<HWND, unsigned> controls[] = {
        {view.status, kStatusBit}, {view.bars[kItemBar], BarBit(kItemBar)}, {view.bars[kEntriesBar], BarBit(kEntriesBar)}};
    for (const auto& c : controls) {
        if (!c.first || !(view.unpainted & c.second))
            continue;
        if (view.frozen)
            SendMessageW(c.first, WM_SETREDRAW, TRUE, 0);
        RedrawWindow(c.first, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        if (view.frozen)
            SendMessageW(c.first, WM_SETREDRAW, FALSE, 0);
    }
    view.unpainted = 0;
    view.paintedAt = GetTickCount64();
}

void GiveBar(ProgressView& view, ProgressBar bar, uint32_t position)
{
    SendMessageW(view.bars[bar], PBM_SETPOS, position, 0);
    view.sent[bar] = position;
    view.unpainted |= BarBit(bar);
}

// In front of the dialog's own procedure while the view is frozen: once the dialog has painted, over the
// controls too, they are painted again.
LRESULT CALLBACK FrozenDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* view = static_cast<ProgressView*>(GetPropW(dialog, kViewProperty));
    // A dialog being destroyed may have lost its properties already: its class's procedure ends it.
    const WNDPROC own = view ? view->dialogProc : reinterpret_cast<WNDPROC>(GetClassLongPtrW(dialog, GCLP_WNDPROC));
    const LRESULT result = CallWindowProcW(own, dialog, message, wParam, lParam);
    if (view && message == WM_PAINT && view->frozen) {
        view->unpainted = kAllControls;
        PaintChanged(*view);
    }
    return result;
}

}  // namespace

void OpenProgressView(ProgressView& view, HWND dialog, uint32_t entries)
{
    view.dialog = dialog;
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

void FreezeProgressView(ProgressView& view)
{
    SetRedraw(view, FALSE);
    view.frozen = true;
    if (view.dialog && SetPropW(view.dialog, kViewProperty, &view)) {
        view.dialogProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(view.dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FrozenDialogProc)));
        if (!view.dialogProc)
            RemovePropW(view.dialog, kViewProperty);
    }
}

void ThawProgressView(ProgressView& view)
{
    if (!view.frozen)
        return;
    if (view.dialogProc) {  // a dialog closed meanwhile is gone with its property
        SetWindowLongPtrW(view.dialog, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(view.dialogProc));
        RemovePropW(view.dialog, kViewProperty);
        view.dialogProc = nullptr;
    }
    SettleBar(view, kItemBar);
    SettleBar(view, kEntriesBar);
    SetRedraw(view, TRUE);
    view.frozen = false;
    PaintChanged(view);
}

void PaintIfDue(ProgressView& view)
{
    if (view.frozen && view.unpainted && GetTickCount64() - view.paintedAt >= kFrameMs)
        PaintChanged(view);
}

void ShowStatusText(ProgressView& view, const wchar_t* text)
{
    if (!view.status || view.statusText == text)
        return;
    SetWindowTextW(view.status, text);
    view.statusText = text;
    view.unpainted |= kStatusBit;
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
