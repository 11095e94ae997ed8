// Running the updater as a separate process and acting as its user would: answering its boxes, watching
// its progress dialog, clicking Cancel, closing it, and recording everything it showed.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/testing_support.h"
#include "tests/window_driver.h"

const int kPressEnter = -1;  // answer a box with the Enter key instead of a button

struct UserScript {
    std::wstring updater;           // the program to start
    int confirmAnswer = IDYES;      // to "Install the update?": IDYES, IDNO or kPressEnter
    // What to do once the progress dialog shows status line number `atStatus` (1 = the first text).
    enum Action { None, ClickCancelYes, ClickCancelNo, CloseDialog, PostQuit } action = None;
    int atStatus = 1;
    DWORD timeoutMs = 120000;
    DWORD killAfterMs = 0;  // when not 0: terminate the updater this long after answering Yes
    DWORD pollMs = 2;       // how often the user looks at the screen
    // False: only the boxes are looked at, never the dialog (whose every reading waits for the updater's
    // next pump): a benchmark's user, who leaves the run its own pace.
    bool readDialog = true;
    // Called once "Install the update?" is on screen, before it is answered; and once the final box of a
    // run that began is on screen, before it is answered.
    std::function<void()> beforeAnswer;
    std::function<void()> beforeFinalAnswer;
};

struct SeenBox {
    BoxInfo info;
    bool dialogPresent = false;  // the progress dialog still existed when this box appeared
};

struct Transcript {
    bool started = false;
    unsigned long startError = 0;  // GetLastError of the last start tried, when none started
    bool finished = false;  // false: the updater did not end in time and was killed
    bool killed = false;    // terminated on purpose (killAfterMs)
    DWORD exitCode = kNoExitCode;  // the updater's own code only when it ended by itself
    std::vector<SeenBox> boxes;
    bool sawDialog = false;
    std::wstring dialogCaption;
    std::wstring cancelCaption;             // the Cancel button's text
    std::vector<std::wstring> statusLines;  // each distinct status text read, in order
    std::vector<unsigned long> statusShownMs;  // per line: from its first reading to the next line's
    // Readings of the dialog while it showed a status line (the copy phase), and among them those in which
    // the status line or a bar was not visible, as assistive technology reads it.
    int copyReadings = 0;
    int hiddenControlReadings = 0;
    int totalBarMax = -1;
    int totalBarLast = -1;
    int itemBarLast = -1;
    bool cancelEnabledAfterAction = true;
    double updateSeconds = 0;      // from answering Yes to the final box (or to the end)
    double totalSeconds = 0;       // from the start of the process to its end
};

// Starts the updater, acts on `script`, and returns once the process has ended.
Transcript RunAsUser(const UserScript& script);
// A readable account of a transcript, one item a line.
std::string Describe(const Transcript& transcript);
