// The message catalogue: 20 numbered texts, each in every language of ui/languages.h. Ids without a name
// here (0, 3, 4, 6-9) are texts no box of this updater shows; they keep their rows, so every id keeps its number.
#pragma once
#include <cstdint>

enum MessageId : uint32_t {
    kMsgNoVersionInfo = 1,
    kMsgNotInstalled = 2,
    kMsgConfirmInstall = 5,
    kMsgInstalling = 10,  // a format with one "%s" (wide): the item being installed
    kMsgConfirmCancel = 11,
    kMsgInstallComplete = 12,
    kMsgDamaged = 13,
    kMsgInstallFailed = 14,
    kMsgUninstallListFailed = 15,
    kMsgDialogFailed = 16,
    kMsgGameRunning = 17,
    kMsgError = 18,
    kMsgDoesNotApply = 19,  // a delta package finds no version it applies to
};

// The text of `id` in the language of g_uiLanguage; the empty text for unknown ids. Never null; the text
// is constant and lives as long as the program.
const wchar_t* GetMessageText(uint32_t id);

// One-button boxes with g_titleText as caption and no owner window.
void ShowWarning(const wchar_t* text);
void ShowInfo(const wchar_t* text);
