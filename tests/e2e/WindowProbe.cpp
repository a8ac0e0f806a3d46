// Starts a Quillon.exe that a shell test put in place, as a user would, and
// prints "name: value" lines (UTF-8) of what it saw, and the exit code:
//   show EXE [SHOT]   Text1, Text2, a balloon's text, the time to the
//       window; a screenshot SHOT
//   type EXE TEXT [HELD MS [viewer]]   TEXT typed into Text2, the longest key
//       and the whole typing; HELD held shut for MS ms from the first key,
//       as an editor would (a viewer: read, sharing reads only)
//   choose EXE ID...   the system menu's items chosen (WM_SYSCOMMAND), then
//       whether the frame has a minimise box
//   tray EXE   started with -min: the balloon the shell shows for it,
//       whether it is hidden with its icon there; then "Exit" from the
//       icon's menu, and whether the icon went with the program
//   keys EXE [click] KEY...   once the first refresh is done (8 s), a click
//       on the refresh button if asked, then Alt+Space and the keys, as a
//       user picks an item of the system menu; 8 s later, Text1 and the
//       balloon
//   close EXE [MS]   started with -s: WM_CLOSE to its hidden window MS ms
//       (a second) after it appears; how long the run took to end then
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "e2e/Screenshot.h"
#include "resource.h"
#include "support/TestSupport.h"

using namespace quillon::test;

namespace {

void Say(const char* name, std::wstring value) {
    for (wchar_t& c : value)
        if (c == L'\n' || c == L'\r') c = L'|';
    std::string utf8(value.size() * 4, '\0');
    utf8.resize(static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, value.c_str(), static_cast<int>(value.size()),
                                                        utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
    std::printf("%s: %s\n", name, utf8.c_str());
    std::fflush(stdout);
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[2048] = L"";
    if (hwnd) SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring what = argv[1], exe = argv[2];
    const bool startMinimised = what == L"tray", silent = what == L"close";
    std::wstring cmd = L"\"" + exe + L"\"" + (startMinimised ? L" -min" : silent ? L" -s" : L"");
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    HWND window = nullptr;
    const DWORD started = GetTickCount();
    if (CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       exe.substr(0, exe.find_last_of(L'\\')).c_str(), &si, &pi))
        for (; !window && GetTickCount() - started < 30000; Sleep(20))
            if (!(window = FindProcessWindow(pi.dwProcessId, L"FrmMain", !startMinimised && !silent)) &&
                WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0)
                break;
    if (!window) {
        Say("window", L"none");
        return 1;
    }
    Say("shown ms", std::to_wstring(GetTickCount() - started));  // with the address in it
    if (what == L"show") {
        HWND tip = nullptr;
        for (const DWORD start = GetTickCount(); !tip && GetTickCount() - start < 3000; Sleep(20))
            tip = FindProcessWindow(pi.dwProcessId, TOOLTIPS_CLASSW, true);
        Say("text1", TextOf(GetDlgItem(window, IDC_TEXT1)));
        Say("text2", TextOf(GetDlgItem(window, IDC_TEXT2)));
        Say("balloon", TextOf(tip));
        if (argc > 3) SaveWindowShot(window, std::string(argv[3], argv[3] + wcslen(argv[3])), tip);
    } else if (what == L"type" && argc > 3) {
        HWND text2 = GetDlgItem(window, IDC_TEXT2);
        const DWORD holdMs = argc > 5 ? static_cast<DWORD>(_wtoi(argv[5])) : 0, heldAt = GetTickCount();
        const bool viewer = argc > 6 && std::wstring(argv[6]) == L"viewer";
        HANDLE held = argc > 5 ? CreateFileW(argv[4], viewer ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                                             viewer ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
        if (argc > 5) Say("held", held != INVALID_HANDLE_VALUE ? L"yes" : L"no");
        SendMessageW(text2, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        DWORD longest = 0;
        const DWORD typing = GetTickCount();
        for (const wchar_t* c = argv[3]; *c; ++c) {
            const DWORD before = GetTickCount();
            SendMessageW(text2, WM_CHAR, *c, 1);
            longest = std::max(longest, GetTickCount() - before);
        }
        Say("longest key ms", std::to_wstring(longest));
        Say("typing ms", std::to_wstring(GetTickCount() - typing));
        Say("text2", TextOf(text2));
        if (held != INVALID_HANDLE_VALUE) {
            if (GetTickCount() - heldAt < holdMs) Sleep(holdMs - (GetTickCount() - heldAt));
            CloseHandle(held);
            Sleep(1000);  // the window tries a kept write again within this
        }
    } else if (what == L"close") {
        Sleep(argc > 3 ? static_cast<DWORD>(_wtoi(argv[3])) : 1000);
        const DWORD closed = GetTickCount();
        PostMessageW(window, WM_CLOSE, 0, 0);
        DWORD code = 99;
        if (WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
        Say("ended ms", std::to_wstring(GetTickCount() - closed));
        GetExitCodeProcess(pi.hProcess, &code);
        Say("exit", std::to_wstring(code));
        return 0;
    } else if (what == L"keys") {
        Sleep(8000);
        int i = 3;
        if (i < argc && std::wstring(argv[i]) == L"click") {
            PostMessageW(GetDlgItem(window, IDC_COMMAND1), BM_CLICK, 0, 0);
            Sleep(500);
            ++i;
        }
        SetForegroundWindow(window);
        PostMessageW(window, WM_SYSCOMMAND, SC_KEYMENU, ' ');
        // Each key goes to the newest menu: a submenu opens over its parent.
        for (HWND last = nullptr; i < argc; ++i) {
            HWND menu = nullptr;
            for (const DWORD start = GetTickCount(); GetTickCount() - start < 5000 && (!menu || menu == last); Sleep(50))
                menu = FindProcessWindow(pi.dwProcessId, L"#32768", true);
            Sleep(200);
            PostMessageW(menu, WM_KEYDOWN, static_cast<WPARAM>(towupper(argv[i][0])), 0);
            last = menu;
        }
        Sleep(8000);
        HWND tip = FindProcessWindow(pi.dwProcessId, TOOLTIPS_CLASSW, true);
        Say("text1", TextOf(GetDlgItem(window, IDC_TEXT1)));
        Say("balloon", TextOf(tip));
    } else if (what == L"choose") {
        for (int i = 3; i < argc; ++i) SendMessageW(window, WM_SYSCOMMAND, wcstoul(argv[i], nullptr, 0), 0);
        Say("minimize box", GetWindowLongPtrW(window, GWL_STYLE) & WS_MINIMIZEBOX ? L"yes" : L"no");
    } else if (what == L"tray") {
        const auto icon = [window] { return NotifyIcon(NIM_MODIFY, window, 1) ? L"yes" : L"no"; };
        const auto balloonTip = [&pi](HWND hwnd) {  // the shell's: visible, with a text, of another process
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            wchar_t name[64] = L"";
            GetClassNameW(hwnd, name, 64);
            return owner != pi.dwProcessId && IsWindowVisible(hwnd) && !lstrcmpiW(name, TOOLTIPS_CLASSW) &&
                   !TextOf(hwnd).empty();
        };
        HWND balloon = nullptr;
        for (const DWORD start = GetTickCount(); !balloon && GetTickCount() - start < 20000; Sleep(50))
            balloon = FindTopWindow(balloonTip);
        Say("balloon", TextOf(balloon));
        for (const DWORD start = GetTickCount(); IsWindowVisible(window) && GetTickCount() - start < 5000;) Sleep(20);
        Say("hidden", IsWindowVisible(window) ? L"no" : L"yes");
        Say("icon", icon());
        // As the shell reports a right click on the icon, in version 4's
        // shape, which Quillon asks for: the place, and the event with its id.
        PostMessageW(window, WM_APP + 1, MAKEWPARAM(400, 400), MAKELPARAM(WM_CONTEXTMENU, 1));
        HWND menu = nullptr;
        for (const DWORD start = GetTickCount(); !menu && GetTickCount() - start < 5000; Sleep(20))
            menu = FindProcessWindow(pi.dwProcessId, L"#32768", true);
        PostMessageW(menu, WM_KEYDOWN, 'X', 0);
        DWORD code = 99;
        if (WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
        GetExitCodeProcess(pi.hProcess, &code);
        Say("exit", std::to_wstring(code));
        Say("icon after", icon());
        return 0;
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD code = 99;
    if (WaitForSingleObject(pi.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 98);
    GetExitCodeProcess(pi.hProcess, &code);
    Say("exit", std::to_wstring(code));
    return 0;
}
