// What the progress dialog shows while an update copies: the status line and the two bars, told only what
// a user could see change, and painted at most once a frame.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

enum ProgressBar { kItemBar, kEntriesBar };

struct ProgressView {
    HWND dialog = nullptr;
    WNDPROC dialogProc = nullptr;  // the dialog's own procedure while the view stands in front of it
    HWND status = nullptr;
    HWND bars[2] = {};       // by ProgressBar; null without a dialog
    uint32_t ranges[2] = {};
    uint32_t sent[2] = {};    // the position each bar was last given
    uint32_t wanted[2] = {};  // the position last asked for, given or not
    std::wstring statusText;  // what the status line was last given
    bool frozen = false;      // the controls' redrawing is off between paints
    unsigned unpainted = 0;   // a bit per control told something since its last paint
    ULONGLONG paintedAt = 0;
};

// Finds the dialog's controls (none without a dialog), sets the item bar's range to 65535 and the entries
// bar's to `entries`, both at 0.
void OpenProgressView(ProgressView& view, HWND dialog, uint32_t entries);

// From Freeze to Thaw the controls are painted only by PaintIfDue, at most once a frame: under Wine a bar
// paints itself on every position it is given, at about the cost of copying a chunk. A frozen control
// does not count as shown, so the dialog paints its background over it whenever something uncovers the
// dialog; the view then paints all three again at once, the Cancel question up or not. Thaw gives every
// bar the position last asked for, turns redrawing back on and paints what changed.
void FreezeProgressView(ProgressView& view);
void ThawProgressView(ProgressView& view);
void PaintIfDue(ProgressView& view);

// The status line's text, given only when it changes.
void ShowStatusText(ProgressView& view, const wchar_t* text);
// A bar's position, given when it is 0 or the end of the range, or lies at least 1/256 of the range (a
// visible step) from the one last given; a position in between waits for the next.
void MoveBar(ProgressView& view, ProgressBar bar, uint32_t position);
// Gives the bar the position last asked for, when it has not had it.
void SettleBar(ProgressView& view, ProgressBar bar);
