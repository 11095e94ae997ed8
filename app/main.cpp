// The updater's entry: one straight line from the language choice to the final message and exit code.
#include <windows.h>

#include <cwchar>

#include "install/installed_folder_win.h"
#include "ui/app_state.h"
#include "ui/languages.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"
#include "update/package/package.h"
#include "update/package/title_block.h"
#include "update/run/driver.h"
#include "util/base/handles_win.h"
#include "util/base/system_functions_win.h"
#include "util/text/strings.h"

// The caption read from the title block is the caption of every window.
static_assert(kTitleCapacity == kTitleBlockSize, "the title block fills g_titleText");

namespace {

const char kUpdaterMutexName[] = "Updater for GarasuNoHaneWoKazoete is executing.";
const char kEngineMutexName[] = "Nolvane for GarasuNoHaneWoKazoete is executing.";

// Exit codes of the early exits; otherwise the update's result code is the exit code.
const int kExitNotInstalled = -1;
const int kExitGameRunning = -2;
const int kExitDeclined = -3;
const int kExitDialogFailed = -4;
const int kExitNoTitle = -5;
const int kExitAlreadyRunning = -6;

// Creates the named mutex with initial ownership. False when it existed already (or creation failed):
// another program holds the name.
bool TakeMutex(const char* name, UniqueHandle& owner)
{
    SetLastError(NO_ERROR);
    owner.Reset(CreateMutexA(nullptr, TRUE, name));
    return GetLastError() == NO_ERROR;
}

// Where the system offers it (recent Windows 10 and 11), ignore junctions and mount points that a user
// without administrator rights created: the installation folder may be writable by every user. Looked up
// at run time, since older systems (and Wine) lack the policy or the function; there the run goes on.
void IgnoreUntrustedJunctions()
{
    using SetPolicy = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    auto set = ResolveSystem<SetPolicy>(ResolveSystemFunction(L"kernel32.dll", "SetProcessMitigationPolicy"));
    if (!set)
        return;
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy = {};
    policy.EnforceRedirectionTrust = 1;
    set(ProcessRedirectionTrustPolicy, &policy, sizeof policy);
}

void ReportResult(uint32_t result)
{
    if (result == kResultSuccess)
        ShowInfo(GetMessageText(kMsgInstallComplete));
    else if (IsPackageRefused(result))
        ShowWarning(GetMessageText(kMsgDamaged));
    else if (result == kResultInstallFailed)
        ShowWarning(GetMessageText(kMsgInstallFailed));
    else if (result == kResultUninstallListFailed)
        ShowWarning(GetMessageText(kMsgUninstallListFailed));
    else if (result == kResultNotApplicable)
        ShowWarning(GetMessageText(kMsgDoesNotApply));
    // Cancelled, aborted and anything else end without a box.
}

// Holds the installation folder and the folders the update writes in, then asks "Install the update?".
// kExitDeclined when the user said no; kResultNotApplicable, told instead of asked, when the installed
// version list already shows that the update cannot apply; 0 to go on.
int HoldAndAsk(const wchar_t* folder, HeldInstallation& held)
{
    HoldInstallationFor(folder, nullptr, held);
    if (held.doesNotApply) {
        ReportResult(kResultNotApplicable);
        return static_cast<int>(kResultNotApplicable);
    }
    return MessageBoxW(nullptr, GetMessageText(kMsgConfirmInstall), g_titleText, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
                   IDYES
               ? 0
               : kExitDeclined;
}

// Steps from the title block on; the updater mutex is held by the caller.
int RunWithUpdaterMutex(HINSTANCE instance, int showCommand)
{
    if (!ReadTitleBlock(g_titleText)) {
        wcscpy(g_titleText, GetMessageText(kMsgError));
        ShowWarning(GetMessageText(kMsgNoVersionInfo));
        return kExitNoTitle;
    }
    // Held to the end: while the update is applied the game's own name stays taken.
    UniqueHandle engineMutex;
    int exitCode = 0;
    wchar_t folder[kFolderCapacity] = L"";
    // From here to the end of the run, nobody can move the folder or a subfolder the update writes in: what
    // the user agrees to is where the files go.
    HeldInstallation held;
    if (!TakeMutex(kEngineMutexName, engineMutex)) {
        ShowWarning(GetMessageText(kMsgGameRunning));
        exitCode = kExitGameRunning;
    } else if (!GetInstalledFolder(folder, kGameVendor, kGameTitle) || !IsAbsoluteFolder(folder)) {
        ShowWarning(GetMessageText(kMsgNotInstalled));
        exitCode = kExitNotInstalled;
    } else if ((exitCode = HoldAndAsk(folder, held)) == 0) {
        RegisterProgressBarClass();
        const int templateId = kLanguages[LanguageIndex(g_uiLanguage)].progressTemplate;
        g_hProgressDlg = CreateDialogParamW(instance, MAKEINTRESOURCEW(templateId), nullptr, ProgressDialogProc, 0);
        if (!g_hProgressDlg) {
            ShowWarning(GetMessageText(kMsgDialogFailed));
            exitCode = kExitDialogFailed;
        } else {
            BuildMonitorList();
            SetWindowTextW(g_hProgressDlg, g_titleText);
            CenterDialogOnMonitor(g_hProgressDlg);
            ShowWindow(g_hProgressDlg, showCommand);
            const uint32_t result = RunUpdate(held);
            if (g_hProgressDlg) {
                DestroyWindow(g_hProgressDlg);
                g_hProgressDlg = nullptr;
            }
            ReportResult(result);
            FreeMonitorList();
            exitCode = static_cast<int>(result);
        }
    }
    return exitCode;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    // Elevated and often started from a download folder: never load a DLL from the program's own folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    IgnoreUntrustedJunctions();  // before the first file is touched
    // Released in the reverse order of their making: the updater mutex, then COM.
    const ComInitialization com;
    g_uiLanguage = LanguageForUi(GetUserDefaultUILanguage()).id;

    UniqueHandle updaterMutex;
    if (!TakeMutex(kUpdaterMutexName, updaterMutex))
        return kExitAlreadyRunning;  // another copy runs: end silently
    return RunWithUpdaterMutex(instance, showCommand);
}
