// The progress dialog from its real templates: layout, Cancel confirmation answered through the window
// manager, closing, quitting, and placement.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "tests/testing_support.h"
#include "tests/window_driver.h"
#include "ui/app_state.h"
#include "ui/languages.h"
#include "ui/message_pump.h"
#include "ui/progress_dialog.h"
#include "ui/resource.h"
#include "util/base/threads.h"

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t cls[64] = L"";
    GetClassNameW(window, cls, 64);
    return cls;
}

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(RegisterProgressBarClass());
        g_cancelRequested = g_abortRequested = 0;
        wcscpy(g_titleText, L"Test updater");
    }
    void TearDown() override
    {
        if (g_hProgressDlg)
            DestroyWindow(g_hProgressDlg);
        g_hProgressDlg = nullptr;
        FreeMonitorList();
        g_cancelRequested = g_abortRequested = 0;
    }
    HWND Create(int templateId)
    {
        g_hProgressDlg = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(templateId), nullptr,
                                            ProgressDialogProc, 0);
        return g_hProgressDlg;
    }
    // Clicks Cancel and pumps; another thread answers the confirmation, if one comes, with `answer`. The
    // confirmation is modal inside the pump: once the pump is back without one, none came. Returns the boxes
    // seen (0 or 1) and their details in `box`.
    int ClickCancel(int answer, BoxInfo* box = nullptr)
    {
        std::atomic<int> seen{0};
        std::atomic<bool> pumped{false};
        HWND dialog = g_hProgressDlg;
        Thread answerer;
        answerer.Start([&] {
            HWND found = nullptr;
            WaitUntil([&] { return (found = FindDialogWindow(GetCurrentProcessId(), dialog)) != nullptr || pumped; },
                      10000);
            if (found) {
                if (box)
                    *box = ReadMessageBox(found);
                ++seen;
                PressButton(found, answer);
            }
        });
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_BUTTON, BN_CLICKED), 0);
        PumpMessages();
        pumped = true;
        answerer.Join();
        return seen;
    }
};

// One control of an extended dialog template, as stored in the resource.
struct TemplateItem {
    DWORD exStyle, style;
    short x, y, cx, cy;
    DWORD id;
    std::wstring cls;  // "#128" for a predefined class atom
    std::wstring text;
};

struct DialogTemplate {
    DWORD exStyle, style;
    short x, y, cx, cy;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::wstring caption, face;
    std::vector<TemplateItem> items;
};

// Reads the DLGTEMPLATEEX resource `id` of this program.
//   header: dlgVer 1, signature 0xFFFF, helpID, exStyle, style, cDlgItems, x, y, cx, cy,
//           menu, class, title, then (DS_SETFONT) pointsize, weight, italic, charset, typeface
//   items, each DWORD-aligned: helpID, exStyle, style, x, y, cx, cy, id (DWORD), class, title, extra count
bool ReadDialogTemplate(int id, DialogTemplate& out)
{
    HRSRC res = FindResourceW(nullptr, MAKEINTRESOURCEW(id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    if (!res)
        return false;
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, res)));
    const BYTE* p = base;
    auto word = [&] { WORD v; memcpy(&v, p, 2); p += 2; return v; };
    auto dword = [&] { DWORD v; memcpy(&v, p, 4); p += 4; return v; };
    auto text = [&] { std::wstring s; for (WORD c; (c = word()) != 0;) s += static_cast<wchar_t>(c); return s; };
    auto sizeOrOrd = [&] {
        WORD first; memcpy(&first, p, 2);
        if (first == 0xFFFF) { p += 2; return L"#" + std::to_wstring(word()); }
        return text();
    };
    if (word() != 1 || word() != 0xFFFF)
        return false;
    dword();
    out.exStyle = dword();
    out.style = dword();
    WORD count = word();
    out.x = word(); out.y = word(); out.cx = word(); out.cy = word();
    sizeOrOrd();
    sizeOrOrd();
    out.caption = text();
    out.pointSize = word(); out.weight = word();
    out.italic = *p++; out.charset = *p++;
    out.face = text();
    for (WORD i = 0; i < count; ++i) {
        p = base + ((p - base + 3) & ~3);
        TemplateItem item;
        dword();
        item.exStyle = dword();
        item.style = dword();
        item.x = word(); item.y = word(); item.cx = word(); item.cy = word();
        item.id = dword();
        item.cls = sizeOrOrd();
        item.text = sizeOrOrd();
        p += word();
        out.items.push_back(item);
    }
    return true;
}

}  // namespace

TEST(DialogTemplateTest, BothTemplatesHoldExactlyTheirLayout)
{
    for (const Language& language : kLanguages) {
        const int id = language.progressTemplate;
        const bool japanese = language.id == kLanguageJapanese;
        DialogTemplate t;
        ASSERT_TRUE(ReadDialogTemplate(id, t)) << id;
        EXPECT_EQ(0x80C000C0u, t.style);
        EXPECT_EQ(0u, t.exStyle);
        EXPECT_EQ(0, t.x);
        EXPECT_EQ(0, t.y);
        EXPECT_EQ(271, t.cx);
        EXPECT_EQ(109, t.cy);
        EXPECT_EQ(L"", t.caption);
        EXPECT_EQ(9, t.pointSize);
        EXPECT_EQ(400, t.weight);
        EXPECT_EQ(0, t.italic);
        EXPECT_EQ(japanese ? 128 : 0, t.charset);
        EXPECT_EQ(japanese ? L"MS UI Gothic" : L"Segoe UI", t.face);
        ASSERT_EQ(4u, t.items.size());
        const TemplateItem expected[] = {
            {0, 0x50010000, 110, 88, 51, 14, 1000, L"#128", japanese ? L"\u4E2D\u6B62" : L"Cancel"},
            {WS_EX_STATICEDGE, 0x50020201, 7, 7, 257, 14, 1001, L"#130", L""},
            {0, 0x50800001, 7, 33, 257, 16, 1002, L"msctls_progress32", L""},
            {0, 0x50800001, 7, 59, 257, 16, 1003, L"msctls_progress32", L""}};
        for (int i = 0; i < 4; ++i) {
            const TemplateItem& a = t.items[i];
            const TemplateItem& e = expected[i];
            EXPECT_EQ(e.id, a.id);
            EXPECT_EQ(e.style, a.style) << e.id;
            EXPECT_EQ(e.exStyle, a.exStyle) << e.id;
            // Window class names are case-insensitive; the resource compiler stores named ones in capitals.
            EXPECT_EQ(0, _wcsicmp(e.cls.c_str(), a.cls.c_str())) << e.id;
            EXPECT_EQ(e.text, a.text) << e.id;
            EXPECT_EQ(e.x, a.x);
            EXPECT_EQ(e.y, a.y);
            EXPECT_EQ(e.cx, a.cx);
            EXPECT_EQ(e.cy, a.cy);
        }
    }
}

TEST_F(ProgressDialogTest, BothTemplatesGiveTheExpectedWindow)
{
    for (const Language& language : kLanguages) {
        const int id = language.progressTemplate;
        const bool japanese = language.id == kLanguageJapanese;
        HWND dialog = Create(id);
        ASSERT_NE(nullptr, dialog) << id;
        LONG style = GetWindowLongW(dialog, GWL_STYLE);
        EXPECT_EQ(WS_POPUP | WS_CAPTION | DS_MODALFRAME, style & (WS_POPUP | WS_CAPTION | DS_MODALFRAME));
        EXPECT_EQ(0, style & WS_SYSMENU) << "no system menu, no close box";
        EXPECT_FALSE(IsWindowVisible(dialog));

        const struct {
            int id;
            const wchar_t* cls;
        } controls[] = {{IDC_CANCEL_BUTTON, L"Button"},
                        {IDC_STATUS_LINE, L"Static"},
                        {IDC_ITEM_BAR, L"msctls_progress32"},
                        {IDC_TOTAL_BAR, L"msctls_progress32"}};
        for (const auto& c : controls) {
            HWND control = GetDlgItem(dialog, c.id);
            ASSERT_NE(nullptr, control) << c.id;
            EXPECT_EQ(0, _wcsicmp(c.cls, ClassOf(control).c_str())) << c.id;
            EXPECT_EQ(WS_CHILD | WS_VISIBLE, GetWindowLongW(control, GWL_STYLE) & (WS_CHILD | WS_VISIBLE)) << c.id;
        }
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_STATUS_LINE), GWL_EXSTYLE) & WS_EX_STATICEDGE);
        EXPECT_EQ(japanese ? L"\u4E2D\u6B62" : L"Cancel",
                  WindowText(GetDlgItem(dialog, IDC_CANCEL_BUTTON)));

        HWND bar = GetDlgItem(dialog, IDC_ITEM_BAR);
        SendMessageW(bar, PBM_SETRANGE32, 0, 65535);
        SendMessageW(bar, PBM_SETPOS, 21844, 0);
        EXPECT_EQ(65535, SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
        EXPECT_EQ(21844, SendMessageW(bar, PBM_GETPOS, 0, 0));
        DestroyWindow(dialog);
        g_hProgressDlg = nullptr;
    }
}

TEST_F(ProgressDialogTest, CancelAnsweredNoAsksAgainNextTime)
{
    ASSERT_NE(nullptr, Create(kLanguages[LanguageIndex(kLanguageEnglish)].progressTemplate));
    ShowWindow(g_hProgressDlg, SW_SHOW);
    BoxInfo box;
    ASSERT_EQ(1, ClickCancel(IDNO, &box));
    EXPECT_EQ(L"Cancel the installation?", box.text);
    EXPECT_EQ(L"Test updater", box.caption);
    EXPECT_EQ(IDNO, box.defaultButton);
    EXPECT_EQ(g_hProgressDlg, box.owner);
    EXPECT_EQ(0, g_cancelRequested);
    EXPECT_EQ(0, g_abortRequested);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(g_hProgressDlg, IDC_CANCEL_BUTTON)));
    EXPECT_EQ(1, ClickCancel(IDNO));
    EXPECT_EQ(0, g_cancelRequested);
}

TEST_F(ProgressDialogTest, CancelAnsweredYesSetsTheFlagAndDisablesTheButton)
{
    ASSERT_NE(nullptr, Create(kLanguages[LanguageIndex(kLanguageEnglish)].progressTemplate));
    ShowWindow(g_hProgressDlg, SW_SHOW);
    ASSERT_EQ(1, ClickCancel(IDYES));
    EXPECT_EQ(1, g_cancelRequested);
    EXPECT_EQ(0, g_abortRequested);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(g_hProgressDlg, IDC_CANCEL_BUTTON)));
    // A click that still arrives (sent by another program) asks nothing.
    EXPECT_EQ(0, ClickCancel(IDYES));
    EXPECT_EQ(1, g_cancelRequested);
}

TEST_F(ProgressDialogTest, CloseDestroysQuitReportsSystemCloseIsSwallowed)
{
    HWND dialog = Create(kLanguages[LanguageIndex(kLanguageEnglish)].progressTemplate);
    ASSERT_NE(nullptr, dialog);
    SendMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(0, g_abortRequested);
    EXPECT_EQ(0, PumpMessages());

    PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, PumpMessages());
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(nullptr, g_hProgressDlg);
    EXPECT_EQ(1, g_abortRequested);
    EXPECT_EQ(0, g_cancelRequested);

    PostQuitMessage(0);
    EXPECT_EQ(1, PumpMessages());
    EXPECT_EQ(0, PumpMessages());  // the quit was consumed
}

TEST_F(ProgressDialogTest, PlacementFollowsTheFirstMonitorsSize)
{
    EXPECT_EQ(760, CenteredPosition({0, 0, 400, 300}, {0, 0, 1920, 1080}).x);
    EXPECT_EQ(390, CenteredPosition({0, 0, 400, 300}, {0, 0, 1920, 1080}).y);
    // The monitor's own origin is not added.
    EXPECT_EQ(760, CenteredPosition({50, 50, 450, 350}, {1920, 0, 3840, 1080}).x);
    // Larger than the monitor: negative, half the excess, truncated toward zero.
    POINT p = CenteredPosition({0, 0, 2003, 1201}, {0, 0, 2000, 1200});
    EXPECT_EQ(-1, p.x);
    EXPECT_EQ(0, p.y);
    EXPECT_EQ(-40, CenteredPosition({0, 0, 2080, 10}, {0, 0, 2000, 10}).x);

    HWND dialog = Create(kLanguages[LanguageIndex(kLanguageEnglish)].progressTemplate);
    ASSERT_NE(nullptr, dialog);
    RECT before;
    GetWindowRect(dialog, &before);
    CenterDialogOnMonitor(dialog);  // no monitor records: stays where it was
    RECT after;
    GetWindowRect(dialog, &after);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);

    g_monitorList.push_back({0, {0, 0, 1000, 800}});
    g_monitorList.push_back({1, {1000, 0, 3000, 1600}});
    RECT monitor;
    ASSERT_EQ(1, GetMonitorRect(&monitor, 1));
    EXPECT_EQ(3000, monitor.right);
    EXPECT_EQ(0, GetMonitorRect(&monitor, 2));
    CenterDialogOnMonitor(dialog);
    GetWindowRect(dialog, &after);
    EXPECT_EQ((1000 - (before.right - before.left)) / 2, after.left);
    EXPECT_EQ((800 - (before.bottom - before.top)) / 2, after.top);
    EXPECT_EQ(before.right - before.left, after.right - after.left);

    FreeMonitorList();
    BuildMonitorList();
    ASSERT_FALSE(g_monitorList.empty());
    EXPECT_EQ(0, g_monitorList[0].index);
}
