// Drives a Quillon.exe that a shell test put in place, as a user's eyes and
// keys meet it, and prints what it saw, one "name: value" a line (UTF-8):
//   window_probe show EXE [SHOT]
//       starts EXE, waits for its window, prints Text1, Text2 and the text
//       of a balloon shown with it (up to 3 s), saves a screenshot named
//       SHOT (QUILLON_SCREENSHOTS), closes the window, prints the exit code
//   window_probe type EXE TEXT [HELD MS]
//       starts EXE and types TEXT into Text2 over what it holds, one key at
//       a time; prints the longest a key took. With HELD, this program holds
//       that file shut for MS ms from the first key, as another program
//       would, then waits a moment before it closes the window.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "e2e/Screenshot.h"
#include "resource.h"
#include "support/TestSupport.h"

using namespace quillon::test;

namespace {

void Say(const char* name, const std::wstring& value) {
    std::wstring flat = value;
    for (wchar_t& c : flat)
        if (c == L'\n' || c == L'\r') c = L'|';
    const int n = WideCharToMultiByte(CP_UTF8, 0, flat.c_str(), static_cast<int>(flat.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, flat.c_str(), static_cast<int>(flat.size()), utf8.data(), n, nullptr, nullptr);
    std::printf("%s: %s\n", name, utf8.c_str());
    std::fflush(stdout);
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[2048] = L"";
    if (hwnd) SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, nullptr);
    return text;
}

struct Started {
    PROCESS_INFORMATION pi{};
    HWND window = nullptr;
};

bool Start(const std::wstring& exe, Started& s) {
    std::wstring cmd = L"\"" + exe + L"\"";
    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &s.pi))
        return false;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(20)) {
        HWND found = FindProcessWindow(s.pi.dwProcessId, L"FrmMain", true);
        if (found) return (s.window = found) != nullptr;
        if (WaitForSingleObject(s.pi.hProcess, 0) == WAIT_OBJECT_0) break;
    }
    return false;
}

int Close(Started& s) {
    PostMessageW(s.window, WM_CLOSE, 0, 0);
    DWORD code = 99;
    if (WaitForSingleObject(s.pi.hProcess, 15000) != WAIT_OBJECT_0) TerminateProcess(s.pi.hProcess, 98);
    GetExitCodeProcess(s.pi.hProcess, &code);
    CloseHandle(s.pi.hProcess);
    CloseHandle(s.pi.hThread);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring what = argv[1], exe = argv[2];
    Started s;
    if (!Start(exe, s)) {
        Say("window", L"none");
        return 1;
    }
    if (what == L"show") {
        HWND tip = nullptr;
        for (const DWORD start = GetTickCount(); !tip && GetTickCount() - start < 3000; Sleep(20))
            tip = FindProcessWindow(s.pi.dwProcessId, TOOLTIPS_CLASSW, true);
        Say("text1", TextOf(GetDlgItem(s.window, IDC_TEXT1)));
        Say("text2", TextOf(GetDlgItem(s.window, IDC_TEXT2)));
        Say("balloon", TextOf(tip));
        if (argc > 3) {
            const std::wstring shot = argv[3];
            SaveWindowShot(s.window, std::string(shot.begin(), shot.end()), tip);
        }
    } else if (what == L"type" && argc > 3) {
        HWND text2 = GetDlgItem(s.window, IDC_TEXT2);
        HANDLE held = INVALID_HANDLE_VALUE;
        const DWORD holdMs = argc > 5 ? static_cast<DWORD>(_wtoi(argv[5])) : 0;
        if (argc > 5) held = CreateFileW(argv[4], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (argc > 5) Say("held", held != INVALID_HANDLE_VALUE ? L"yes" : L"no");
        const DWORD heldAt = GetTickCount();
        SendMessageW(text2, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        DWORD longest = 0;
        for (const wchar_t* c = argv[3]; *c; ++c) {
            const DWORD before = GetTickCount();
            SendMessageW(text2, WM_CHAR, *c, 1);
            longest = std::max(longest, GetTickCount() - before);
        }
        Say("longest key ms", std::to_wstring(longest));
        Say("text2", TextOf(text2));
        if (held != INVALID_HANDLE_VALUE) {
            const DWORD spent = GetTickCount() - heldAt;
            if (spent < holdMs) Sleep(holdMs - spent);
            CloseHandle(held);
            Sleep(1000);  // the window tries a kept write again within this
        }
    }
    Say("exit", std::to_wstring(Close(s)));
    return 0;
}
