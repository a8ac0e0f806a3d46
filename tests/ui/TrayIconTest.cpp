// The icon in Wine's real notification area (its explorer's Shell_TrayWnd),
// seen from outside: NIM_MODIFY with no flags succeeds only for an icon there.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "support/TestSupport.h"
#include "ui/TrayIcon.h"

namespace quillon::test {
namespace {

bool Icon(DWORD message, HWND hwnd) {
    return NotifyIcon(message, hwnd, ui::TrayIcon::kId, message == NIM_ADD ? LoadIconW(nullptr, IDI_APPLICATION) : nullptr);
}

HWND TopLevel() {  // TaskbarCreated reaches top-level windows only
    return CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPEDWINDOW, 0, 0, 9, 9, nullptr, nullptr, nullptr, nullptr);
}

// The real shell, refusing, or making an icon it says it did not (a busy
// Explorer's add that timed out), or refusing versions from refusedVersion
// on, as older Windows do. Every call is kept; sent is the last add or modify.
bool refusing = false, addMadeButFailed = false;
UINT refusedVersion = 99;
NOTIFYICONDATAW sent{};
std::vector<std::pair<DWORD, UINT>> calls;  // the message, and the version asked
BOOL WINAPI FussyShell(DWORD message, PNOTIFYICONDATAW data) {
    calls.emplace_back(message, message == NIM_SETVERSION ? data->uVersion : 0);
    if (message == NIM_ADD || message == NIM_MODIFY) sent = *data;
    if (message == NIM_SETVERSION && data->uVersion >= refusedVersion) return FALSE;
    const BOOL done = !refusing && Shell_NotifyIconW(message, data);
    return done && !(message == NIM_ADD && addMadeButFailed);
}

class TrayIconTest : public ::testing::Test {
protected:
    // Wine's explorer hides its tray when the last icon goes, which waits 2 s
    // for X under Xvfb: an icon kept throughout spares each test that wait.
    static void SetUpTestSuite() { Icon(NIM_ADD, keeper = TopLevel()); }
    static void TearDownTestSuite() { Icon(NIM_DELETE, keeper); DestroyWindow(keeper); }
    void SetUp() override {
        refusing = addMadeButFailed = false;
        refusedVersion = 99;
        calls.clear();
        ASSERT_TRUE(FindWindowW(L"Shell_TrayWnd", nullptr)) << "no notification area";
    }
    void TearDown() override { Icon(NIM_DELETE, owner); DestroyWindow(owner); }

    static inline HWND keeper = nullptr;
    HWND owner = TopLevel();
    HICON icon = LoadIconW(nullptr, IDI_APPLICATION);
};

TEST_F(TrayIconTest, RefusedIconIsRetriedUntilThere) {
    ui::TrayIcon tray(owner, icon, FussyShell);
    refusing = true;
    EXPECT_FALSE(tray.Show(L"Quillon") || tray.Retry());
    EXPECT_TRUE(tray.Wanted() && !tray.Shown()) << "so the window keeps its taskbar button";
    refusing = false;
    EXPECT_TRUE(tray.Retry() && tray.Shown() && Icon(NIM_MODIFY, owner));
    tray.Hide();
    addMadeButFailed = true;
    EXPECT_TRUE(tray.Show(L"Quillon") && Icon(NIM_MODIFY, owner));
    tray.Hide();
    EXPECT_FALSE(Icon(NIM_MODIFY, owner));
}

TEST_F(TrayIconTest, TextsAreCutToTheirFieldsNeverInsideAPair) {
    ui::TrayIcon tray(owner, icon, FussyShell);
    ASSERT_TRUE(tray.Show(std::wstring(300, L'\u03a9')));
    EXPECT_EQ(std::wstring(sent.szTip), std::wstring(126, L'\u03a9') + L"\u2026");
    // U+20000, two units, would straddle the title's 62nd and 63rd.
    ASSERT_TRUE(tray.Balloon(std::wstring(61, L'a') + L"\U00020000b", std::wstring(400, L'\u6f22'), true));
    EXPECT_EQ(std::wstring(sent.szInfoTitle), std::wstring(61, L'a') + L"\u2026");
    EXPECT_EQ(std::wstring(sent.szInfo), std::wstring(254, L'\u6f22') + L"\u2026");
    EXPECT_EQ(ui::CutToFit(std::wstring(127, L'x'), 128), std::wstring(127, L'x'));

    SYSTEMTIME when{2031, 3, 1, 14, 14, 5, 0, 0};
    const std::wstring tip = ui::TrayTip(std::wstring(200, L'\u4e2d'), &when);
    EXPECT_LE(tip.size(), 127u);
    EXPECT_NE(tip.find(L"\u4e2d\u2026\nRefreshed "), std::wstring::npos) << "the addresses give way to the time";
    EXPECT_NE(tip.find(L"2031"), std::wstring::npos);
}


// Each add, at the start, after Explorer's restart and at a retry, is
// followed by the version: 4 where the shell takes it (Wine's explorer),
// else 3 or none, as older shells. A modify asks nothing again.
TEST_F(TrayIconTest, TheVersionIsAskedAfterEveryAdd) {
    using Asked = std::vector<UINT>;
    const auto versionsAsked = [] {
        Asked asked;
        for (const auto& [message, version] : calls)
            if (message == NIM_SETVERSION) asked.push_back(version);
        calls.clear();
        return asked;
    };
    ui::TrayIcon tray(owner, icon, FussyShell);
    ASSERT_TRUE(tray.Show(L"Quillon"));
    EXPECT_EQ(versionsAsked(), Asked{NOTIFYICON_VERSION_4});
    tray.SetTip(L"Quillon 2");
    EXPECT_EQ(versionsAsked(), Asked{});
    Icon(NIM_DELETE, owner);  // a new Explorer knows no icon
    refusedVersion = NOTIFYICON_VERSION_4;
    ASSERT_TRUE(tray.Restore());
    EXPECT_EQ(versionsAsked(), (Asked{NOTIFYICON_VERSION_4, NOTIFYICON_VERSION}));
    EXPECT_EQ(tray.Version(), static_cast<UINT>(NOTIFYICON_VERSION));
    tray.Hide();
    refusedVersion = 99;
    refusing = true;
    EXPECT_FALSE(tray.Show(L"Quillon") || tray.Retry());
    EXPECT_EQ(versionsAsked(), Asked{}) << "no icon, no version";
    refusing = false;
    ASSERT_TRUE(tray.Retry());
    EXPECT_EQ(versionsAsked(), Asked{NOTIFYICON_VERSION_4});
}

// Before version 4 wParam is the id; from it lParam holds the event and the
// id, and wParam the place, which may lie left of the main screen.
TEST(TrayMessage, IsReadInTheShapeOfTheVersion) {
    const ui::TrayEvent old = ui::DecodeTrayMessage(0, ui::TrayIcon::kId, WM_CONTEXTMENU);
    EXPECT_TRUE(old.event == WM_CONTEXTMENU && old.id == ui::TrayIcon::kId && !old.anchored);
    const ui::TrayEvent key = ui::DecodeTrayMessage(NOTIFYICON_VERSION_4, MAKEWPARAM(-40, 700),
                                                    MAKELPARAM(NIN_KEYSELECT, ui::TrayIcon::kId));
    EXPECT_TRUE(key.event == NIN_KEYSELECT && key.id == ui::TrayIcon::kId && key.anchored);
    EXPECT_EQ(key.at.x, -40);
    EXPECT_EQ(key.at.y, 700);
}

}  // namespace
}  // namespace quillon::test
