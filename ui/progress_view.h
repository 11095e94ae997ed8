// What the progress dialog shows while an update copies: the status line and the two bars, told only what
// a user could see change, the item bar painted at most once a frame.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

enum ProgressBar { kItemBar, kEntriesBar };

struct ProgressView {
    HWND status = nullptr;
    HWND bars[2] = {};       // by ProgressBar; null without a dialog
    uint32_t ranges[2] = {};
    uint32_t sent[2] = {};    // the position each bar was last given
    uint32_t wanted[2] = {};  // the position last asked for, given or not
    std::wstring statusText;  // what the status line was last given
    WNDPROC itemBarProc = nullptr;  // the item bar's own procedure while the view holds its paints
    bool holding = false;     // the item bar paints at most once a frame
    bool swallowing = false;  // the item bar's paint of the position being given now waits for its frame
    bool unpainted = false;   // the item bar was given a position it has not painted
    ULONGLONG paintedAt = 0;  // when the item bar last painted while held
};

// Finds the dialog's controls (none without a dialog), sets the item bar's range to 65535 and the entries
// bar's to `entries`, both at 0.
void OpenProgressView(ProgressView& view, HWND dialog, uint32_t entries);

// From Hold to Release the item bar paints at most once a frame: under Wine a bar paints itself on every
// position it is given, at about the cost of copying a chunk. Its paint of a position given within a frame
// of its last paint waits for PaintIfDue (or for the end); everything else paints as ever: the status line
// and the entries bar at once, and every control whenever the dialog is uncovered. Every control stays
// visible throughout, to the user and to assistive technology. Release gives every bar the position last
// asked for and paints what waited.
void HoldProgressPaints(ProgressView& view);
void ReleaseProgressPaints(ProgressView& view);
void PaintIfDue(ProgressView& view);

// The status line's text, given only when it changes, and painted at once.
void ShowStatusText(ProgressView& view, const wchar_t* text);
// A bar's position, given when it is 0 or the end of the range, or lies at least 1/256 of the range (a
// visible step) from the one last given; a position in between waits for the next.
void MoveBar(ProgressView& view, ProgressBar bar, uint32_t position);
// Gives the bar the position last asked for, when it has not had it.
void SettleBar(ProgressView& view, ProgressBar bar);
