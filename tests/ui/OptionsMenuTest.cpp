// The options the window adds to its system menu, built for a given state,
// and what two of them reach: the Run entry and the text-file program.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/TestSupport.h"
#include "ui/OptionsMenu.h"

using namespace quillon;

namespace {

std::wstring TextAt(HMENU menu, int i) {
    wchar_t text[128] = L"";
    GetMenuStringW(menu, static_cast<UINT>(i), text, 128, MF_BYPOSITION);
    return text;
}
bool CheckedAt(HMENU menu, int i) { return GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_CHECKED; }

std::string Ansi(const std::wstring& text) { return std::string(text.begin(), text.end()); }  // ASCII paths

constexpr wchar_t kRun[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

}  // namespace

// The items' checks and a period from the file that is no choice;
// built again for another state, the menu holds them once.
TEST(OptionsMenu, ShowsTheStateInForceAndIsBuiltAnewInPlace) {
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING, SC_CLOSE, L"&Close\tAlt+F4");
    ui::AddOptions(menu, {7, true, false, false, true});
    ASSERT_EQ(GetMenuItemCount(menu), 8);
    EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, static_cast<UINT>(MF_SEPARATOR));
    for (int i = 3; i < 7; ++i) EXPECT_EQ(CheckedAt(menu, i), i == 3 || i == 6) << i;
    HMENU every = GetSubMenu(menu, 2);
    ASSERT_NE(every, nullptr);
    ASSERT_EQ(GetMenuItemCount(every), 7);
    EXPECT_EQ(TextAt(every, 6), L"7 minutes");
    for (int i = 0; i < 7; ++i) EXPECT_EQ(CheckedAt(every, i), i == 6) << i;

    ui::AddOptions(menu, {60, false, true, true, false});
    ASSERT_EQ(GetMenuItemCount(menu), 8);
    every = GetSubMenu(menu, 2);
    ASSERT_EQ(GetMenuItemCount(every), 6);
    EXPECT_EQ(TextAt(every, 4), L"1 &hour");
    EXPECT_TRUE(CheckedAt(every, 4));
    for (int i = 3; i < 7; ++i) EXPECT_EQ(CheckedAt(menu, i), i == 4 || i == 5) << i;
    // The system uses the low four bits of a WM_SYSCOMMAND id.
    for (UINT id : {GetMenuItemID(menu, 3), GetMenuItemID(menu, 6), GetMenuItemID(every, 1)})
        EXPECT_EQ(id & 0xF, 0u) << id;
    DestroyMenu(menu);
}

// Checked for this copy's own value, whatever its case. (The release's
// user test writes, removes and points a moved copy's value here.)
TEST(OptionsMenu, StartWithWindowsIsThisCopysRunValueInAnyCase) {
    DWORD error = 0;
    ASSERT_TRUE(ui::SetStartWithWindows(true, error)) << error;
    std::wstring upper = ui::RunEntryData();
    CharUpperW(upper.data());
    RegSetKeyValueW(HKEY_CURRENT_USER, kRun, L"Quillon", REG_SZ, upper.c_str(),
                    static_cast<DWORD>((upper.size() + 1) * 2));
    EXPECT_TRUE(ui::StartsWithWindows());
    ASSERT_TRUE(ui::SetStartWithWindows(false, error));
    EXPECT_FALSE(ui::StartsWithWindows());
    EXPECT_TRUE(ui::SetStartWithWindows(false, error)) << "no value to remove is no failure";
}

// A log named ip.cmd goes to the text program, with its path; it is not
// run, and a "%1" in its name is no mark for the path. The program is the
// one a double click starts, the class's default verb, even where the
// class has no "open" command (as Windows 11's packaged Notepad has none).
TEST(OptionsMenu, ALogIsOpenedWithTheTextProgramNeverRun) {
    test::TempDir dir;
    const std::wstring log = dir / L"ip %1 log.cmd", ran = dir / L"ran.txt";
    test::WriteBytes(log, "echo ran>\"" + Ansi(ran) + "\"\r\n");
    wchar_t saved[256] = L"";
    LONG savedSize = sizeof saved;
    const bool had = RegQueryValueW(HKEY_CLASSES_ROOT, L".txt", saved, &savedSize) == ERROR_SUCCESS;
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"QuillonTestText", 0), ERROR_SUCCESS);
    for (const wchar_t* verb : {L"open", L"view"}) {
        const std::wstring opened = dir / (std::wstring(verb) + L".txt");
        const std::wstring command = L"cmd.exe /c echo \"%1\">\"" + opened + L"\"";
        RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QuillonTestText");
        ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"QuillonTestText\\shell", REG_SZ, verb, 0), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, (L"QuillonTestText\\shell\\" + std::wstring(verb) + L"\\command").c_str(),
                               REG_SZ, command.c_str(), 0),
                  ERROR_SUCCESS);
        DWORD error = 0;
        const bool started = ui::OpenAsText(log, error);
        if (started) test::WaitForLine(opened, 10000);
        EXPECT_TRUE(started) << Ansi(verb) << ": " << error;
        EXPECT_EQ(test::ReadBytes(opened).substr(0, Ansi(log).size() + 2), "\"" + Ansi(log) + "\"") << Ansi(verb);
    }
    if (had) RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, saved, 0);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QuillonTestText");
    EXPECT_FALSE(test::FileExists(ran));
}
