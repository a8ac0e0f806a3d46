#include "e2e/QuillonProcess.h"

#include <commctrl.h>

#include <vector>

#include "support/TestSupport.h"

namespace quillon::test {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

}  // namespace

QuillonProcess::QuillonProcess(const std::wstring& folder) : folder_(folder), exe_(folder + L"\\Quillon.exe") {
    const std::wstring built = WinePath(Env("QUILLON_BIN") + "/Quillon.exe");
    CopyFileW(built.c_str(), exe_.c_str(), FALSE);
}

QuillonProcess::~QuillonProcess() {
    if (pi_.hProcess) {
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
            if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
            if (WaitForSingleObject(pi_.hProcess, 5000) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
        }
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
    }
}

bool QuillonProcess::Start(const std::wstring& arguments, const std::wstring& workingFolder) {
    std::wstring cmd = L"\"" + exe_ + L"\"";
    if (!arguments.empty()) cmd += L" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return CreateProcessW(exe_.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          (workingFolder.empty() ? folder_ : workingFolder).c_str(), &si,
                          &pi_) != FALSE;
}

HWND QuillonProcess::WaitForWindow(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        HWND found = FindProcessWindow(pi_.dwProcessId, L"FrmMain", false);
        if (found && IsWindowVisible(found)) return window_ = found;
        if (WaitForSingleObject(pi_.hProcess, 20) == WAIT_OBJECT_0) return nullptr;
    }
    return nullptr;
}

bool QuillonProcess::HasVisibleWindow() const {
    return FindProcessWindow(pi_.dwProcessId, nullptr, true) != nullptr;
}

long QuillonProcess::WaitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<long>(code);
}

bool QuillonProcess::EverVisibleUntilExit(DWORD timeoutMs, long& exitCode) {
    bool seen = false;
    const DWORD start = GetTickCount();
    exitCode = -1;
    while (GetTickCount() - start < timeoutMs) {
        seen = seen || HasVisibleWindow();
        if (WaitForSingleObject(pi_.hProcess, 5) == WAIT_OBJECT_0) {
            exitCode = WaitForExit(0);
            break;
        }
    }
    return seen;
}

std::wstring QuillonProcess::Balloon(DWORD waitMs) const {
    HWND tip = nullptr;
    for (const DWORD start = GetTickCount(); !tip && GetTickCount() - start < waitMs; Sleep(20))
        tip = FindProcessWindow(Pid(), TOOLTIPS_CLASSW, true);
    wchar_t text[1024] = L"";
    if (tip) SendMessageW(tip, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring QuillonProcess::Text(int id) const {
    HWND item = Item(id);
    const LRESULT n = SendMessageW(item, WM_GETTEXTLENGTH, 0, 0);
    std::vector<wchar_t> buf(static_cast<size_t>(n) + 1, L'\0');
    SendMessageW(item, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return buf.data();
}

int QuillonProcess::Check(int id) const { return static_cast<int>(SendMessageW(Item(id), BM_GETCHECK, 0, 0)); }

HWND QuillonProcess::Focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(pi_.dwThreadId, &info);
    return info.hwndFocus;
}

ProxySetting::ProxySetting() {
    wchar_t buf[256] = L"";
    DWORD size = sizeof buf;
    RegGetValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", RRF_RT_REG_SZ, nullptr, buf, &size);
    saved_ = buf;
}

ProxySetting::~ProxySetting() { Set(saved_); }

void ProxySetting::Set(const std::wstring& server) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kInternetSettings, L"ProxyServer", REG_SZ, server.c_str(),
                    static_cast<DWORD>((server.size() + 1) * sizeof(wchar_t)));
}

}  // namespace quillon::test
