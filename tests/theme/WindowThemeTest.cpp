// The program's own window with and without version 6 of the common
// controls: the refresh button is handed to the themed painter only with
// it, and both looks are kept as screenshots.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include "ThemeTestSupport.h"
#include "common/DoEvents.h"
#include "common/SystemLibrary.h"
#include "e2e/Screenshot.h"
#include "resource.h"
#include "theme/mdXpThemeSupport.h"
#include "ui/FrmMain.h"

namespace quillon::test {
namespace {

// The pixels of a window's client area as the screen shows them, less an
// inset all round.
std::vector<COLORREF> Capture(HWND hwnd, int inset = 0) {
    RECT rc{};
    GetClientRect(hwnd, &rc);
    HDC dc = GetDC(hwnd);
    std::vector<COLORREF> pixels;
    for (int y = inset; y < rc.bottom - inset; ++y)
        for (int x = inset; x < rc.right - inset; ++x) pixels.push_back(GetPixel(dc, x, y));
    ReleaseDC(hwnd, dc);
    return pixels;
}

void Repaint(HWND hwnd) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    DoEvents();
}

class WindowThemeTest : public ThemeTest {
protected:
    void SetUp() override {
        ThemeTest::SetUp();
        window.onEnd = [](int) {};
        ASSERT_TRUE(window.Create());
        window.SetAddressText(L"203.0.113.7");
        ShowWindow(window.hWnd(), SW_SHOWNORMAL);
        SetForegroundWindow(window.hWnd());
        Repaint(window.hWnd());
        command1 = window.Item(L"Command1");
        ASSERT_NE(command1, nullptr);
    }

    ui::FrmMain window;
    HWND command1 = nullptr;
};

TEST_F(WindowThemeTest, RefreshButtonIsThemedOnlyWithVersionSix) {
    FakeVersion::Use(5);
    EXPECT_FALSE(theme::FixThemeSupport(window.Controls().Controls()));
    Repaint(window.hWnd());
    EXPECT_EQ(GetPropA(command1, "Painted"), nullptr) << "the plain owner-drawn button";
    const std::vector<COLORREF> plain = Capture(command1);
    EXPECT_TRUE(SaveWindowShot(window.hWnd(), "window-plain"));

    FakeVersion::Use(6);
    EXPECT_TRUE(theme::FixThemeSupport(window.Controls().Controls()));
    Repaint(window.hWnd());
    EXPECT_NE(GetPropA(command1, "Painted"), nullptr) << "painted by the layer";
    const std::vector<COLORREF> themed = Capture(command1);
    // Corners outside the themed shape keep what they show on repaints.
    const std::vector<COLORREF> themedFace = Capture(command1, 3);
    EXPECT_NE(plain, themed) << "the theme's face differs from the plain one";
    EXPECT_TRUE(SaveWindowShot(window.hWnd(), "window-themed"));

    // Hovering gives the hot look, leaving takes it away again.
    SendMessageW(command1, WM_MOUSEHOVER, 0, 0);
    DoEvents();
    EXPECT_NE(GetPropA(command1, "Hot"), nullptr);
    EXPECT_NE(Capture(command1), themed) << "the hot border";
    EXPECT_TRUE(SaveWindowShot(window.hWnd(), "window-themed-hot"));
    SendMessageW(command1, WM_MOUSELEAVE, 0, 0);
    DoEvents();
    EXPECT_EQ(GetPropA(command1, "Hot"), nullptr);
    EXPECT_EQ(Capture(command1, 3), themedFace);

    // The other controls are left to draw themselves.
    for (const wchar_t* name : {L"Check1", L"Check2", L"Text1", L"Text2"}) {
        SendMessageW(window.Item(name), WM_MOUSEHOVER, 0, 0);
        EXPECT_EQ(GetPropA(window.Item(name), "Hot"), nullptr) << name;
    }
}

// Screen readers name a button by its window text, through the standard
// accessibility proxy; the button itself still shows only its picture,
// plain or themed.
TEST_F(WindowThemeTest, TheRefreshButtonIsNamedForScreenReadersAndShowsOnlyItsPicture) {
    // Name and role as the proxy reports them; the role is the one it gives
    // an ordinary push button (Windows says push button, Wine's proxy
    // knows no button roles yet).
    const auto read = [](HWND hwnd, std::wstring& name, LONG& role) {
        IAccessible* accessible = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(hwnd, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&accessible)),
                  S_OK);
        VARIANT self{};
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        BSTR text = nullptr;
        EXPECT_EQ(accessible->get_accName(self, &text), S_OK);
        name = text ? text : L"";
        SysFreeString(text);
        VARIANT value{};
        EXPECT_EQ(accessible->get_accRole(self, &value), S_OK);
        role = value.vt == VT_I4 ? value.lVal : -1;
        accessible->Release();
    };
    std::wstring name, plainName;
    LONG role = 0, plainRole = 0;
    read(command1, name, role);
    EXPECT_EQ(name, L"Refresh");
    HWND plain = CreateWindowW(L"BUTTON", L"Plain", WS_CHILD | BS_PUSHBUTTON, 0, 0, 10, 10, window.hWnd(), nullptr,
                               nullptr, nullptr);
    read(plain, plainName, plainRole);
    DestroyWindow(plain);
    EXPECT_EQ(role, plainRole);

    for (DWORD version : {5u, 6u}) {
        FakeVersion::Use(version);
        theme::FixThemeSupport(window.Controls().Controls());
        Repaint(window.hWnd());
        const std::vector<COLORREF> named = Capture(command1);
        SetWindowTextW(command1, L"");
        Repaint(window.hWnd());
        EXPECT_EQ(Capture(command1), named) << "the name was drawn, version " << version;
        SetWindowTextW(command1, L"Refresh");
    }
}

// Text1 cuts an IPv6 address off; its tip holds each address in full, one a
// line.
TEST_F(WindowThemeTest, TheAddressBoxTipShowsEachAddressInFull) {
    HWND tip = nullptr;
    while ((tip = FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) && GetWindow(tip, GW_OWNER) != window.hWnd()) {
    }
    ASSERT_NE(tip, nullptr);
    const auto tipOf = [&] {
        wchar_t text[256] = L"";
        TTTOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = window.hWnd();
        tool.uId = reinterpret_cast<UINT_PTR>(window.Item(L"Text1"));
        tool.lpszText = text;
        SendMessageW(tip, TTM_GETTEXTW, 256, reinterpret_cast<LPARAM>(&tool));
        return std::wstring(text);
    };
    EXPECT_EQ(tipOf(), L"203.0.113.7");
    window.SetAddressText(L"203.0.113.7  2001:db8:85a3:1234:5678:8a2e:370:7334");
    EXPECT_EQ(tipOf(), L"203.0.113.7\n2001:db8:85a3:1234:5678:8a2e:370:7334");
}

// A later window of the process (a test's, the benchmark's) must not find
// its icons destroyed by an earlier one.
TEST(FrmMainClass, EveryWindowOfTheProcessHasLiveIcons) {
    for (int window = 0; window < 2; ++window) {
        ui::FrmMain frm;
        frm.onEnd = [](int) {};
        ASSERT_TRUE(frm.Create()) << window;
        for (WPARAM which : {ICON_BIG, ICON_SMALL}) {
            ICONINFO info{};
            const auto icon = reinterpret_cast<HICON>(SendMessageW(frm.hWnd(), WM_GETICON, which, 0));
            EXPECT_TRUE(icon && GetIconInfo(icon, &info)) << "window " << window << ", icon " << which;
            if (info.hbmColor) DeleteObject(info.hbmColor);
            if (info.hbmMask) DeleteObject(info.hbmMask);
        }
    }
}

// A registration that fails (here a class of the same name that is not the
// window's stands in the way) fails Create without a window, and the next
// Create tries again. The window's icons are the module's shared ones, so
// no attempt leaves an icon behind.
TEST(FrmMainClass, AFailedRegistrationIsTriedAgainAtTheNextCreate) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    UnregisterClassW(L"FrmMain", instance);  // an earlier test's, its windows gone
    WNDCLASSW other{};
    other.lpfnWndProc = DefWindowProcW;
    other.hInstance = instance;
    other.lpszClassName = L"FrmMain";
    ASSERT_TRUE(RegisterClassW(&other));
    {
        ui::FrmMain frm;
        frm.onEnd = [](int) {};
        EXPECT_FALSE(frm.Create());
        EXPECT_EQ(frm.hWnd(), nullptr);
    }
    ASSERT_TRUE(UnregisterClassW(L"FrmMain", instance));
    ui::FrmMain frm;
    frm.onEnd = [](int) {};
    ASSERT_TRUE(frm.Create());
    EXPECT_EQ(reinterpret_cast<HANDLE>(SendMessageW(frm.hWnd(), WM_GETICON, ICON_BIG, 0)),
              LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON, 32, 32, LR_SHARED));
}

// This program carries Quillon's manifest: bound from the system folder
// only, the table still gets the version-6 common controls it names, and
// so does the way taken on loaders that know no search flags, which finds
// every other library in the system folder.
TEST_F(ThemeTest, TheManifestsCommonControlsAreStillTheOnesBound) {
    const auto moduleOf = [](const void* address) {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCWSTR>(address), &module);
        return module;
    };
    const auto pathOf = [](HMODULE module) {
        wchar_t path[MAX_PATH] = L"";
        GetModuleFileNameW(module, path, MAX_PATH);
        return std::wstring(CharLowerW(path));
    };
    auto subclass = theme::Api().SetWindowSubclass.Bind();
    ASSERT_NE(subclass, nullptr);
    const HMODULE bound = moduleOf(reinterpret_cast<const void*>(subclass));
    EXPECT_NE(pathOf(bound).find(L"\\winsxs\\"), std::wstring::npos) << "bound from " << testing::PrintToString(pathOf(bound));
    EXPECT_NE(pathOf(bound).find(L"common-controls"), std::wstring::npos);
    EXPECT_EQ(LoadSystemLibraryByPath(L"comctl32.dll"), bound);

    // The system folder of this process's bitness: SysWOW64 for a 32-bit
    // process on 64-bit Windows. Compared as files, since the loader may
    // name it either way.
    wchar_t system[MAX_PATH];
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    if (!wow64 || !GetSystemWow64DirectoryW(system, MAX_PATH)) GetSystemDirectoryW(system, MAX_PATH);
    const auto fileId = [](const std::wstring& path) {
        HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        BY_HANDLE_FILE_INFORMATION info{};
        const bool ok = file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        return ok ? std::to_wstring(info.dwVolumeSerialNumber) + L":" + std::to_wstring(info.nFileIndexHigh) + L":" +
                        std::to_wstring(info.nFileIndexLow)
                  : std::wstring(L"none");
    };
    const HMODULE msimg32 = LoadSystemLibraryByPath(L"msimg32.dll");
    ASSERT_NE(msimg32, nullptr);
    const std::wstring loaded = fileId(pathOf(msimg32));
    EXPECT_NE(loaded, L"none");
    EXPECT_EQ(loaded, fileId(std::wstring(system) + L"\\msimg32.dll"))
        << testing::PrintToString(pathOf(msimg32)) << " is not in " << testing::PrintToString(std::wstring(system));
}

}  // namespace
}  // namespace quillon::test
