// The window's life in the notification area, for tray=1: a minimised
// window hides its taskbar button there, and its icon brings it back.
#include "common/ModulePath.h"
#include "ui/FrmMain.h"

namespace quillon::ui {
namespace {

// Sent to a running window of this copy by a second normal start.
UINT ShowRunningMessage() {
    static const UINT message = RegisterWindowMessageW(L"Quillon.ShowRunning");
    return message;
}

// The program file of the process that owns a window.
std::wstring ProgramOf(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return L"";
    wchar_t path[MAX_PATH * 4] = L"";
    DWORD size = MAX_PATH * 4;
    const bool got = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    return got ? path : L"";
}

}  // namespace

// Only with tray=1 does the frame have a minimise box (and the grayed
// maximise box Windows draws beside it).
void FrmMain::SetTrayMode(bool on) {
    trayMode_ = on;
    if (!hwnd_ || Silent()) return;
    const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    const LONG_PTR wanted = on ? style | WS_MINIMIZEBOX : style & ~static_cast<LONG_PTR>(WS_MINIMIZEBOX);
    if (wanted != style) {
        SetWindowLongPtrW(hwnd_, GWL_STYLE, wanted);
        SetWindowPos(hwnd_, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (!on && tray_ && tray_->Wanted()) FromTray();
}

// Hidden only once the icon is there: never a hidden window without one.
void FrmMain::ToTray() {
    if (!tray_) tray_ = std::make_unique<TrayIcon>(hwnd_, reinterpret_cast<HICON>(SendMessageW(hwnd_, WM_GETICON, ICON_SMALL, 0)));
    if (tray_->Show(TrayTip(AddressText(), lastRefresh_.wYear ? &lastRefresh_ : nullptr)))
        ShowWindow(hwnd_, SW_HIDE);
    else
        SetTimer(hwnd_, kTrayTimer, 2000, nullptr);
}

void FrmMain::FromTray() {
    KillTimer(hwnd_, kTrayTimer);
    if (tray_) tray_->Hide();
    if (IsIconic(hwnd_) || !IsWindowVisible(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
    SetForegroundWindow(hwnd_);
    trayFailureSaid_ = false;
}

void FrmMain::OnTrayMessage(LPARAM lp) {
    if (lp == WM_LBUTTONUP || lp == WM_LBUTTONDBLCLK || lp == NIN_BALLOONUSERCLICK) {
        FromTray();
    } else if (lp == WM_RBUTTONUP || lp == WM_CONTEXTMENU) {
        switch (TrackTrayMenu(hwnd_)) {
            case kTrayShow:
                FromTray();
                break;
            case kTrayRefresh:
                Command1_Click();
                break;
            case kTrayExit:
                End(net::RunEnd::WindowClosed);
                break;
            default:
                break;
        }
    }
}

// A second normal start of the same copy, with tray=1: the first one's
// window comes back, and this start ends.
bool FrmMain::ShowRunningCopy() {
    const std::wstring self = ModulePath();
    for (HWND other = nullptr; (other = FindWindowExW(nullptr, other, L"FrmMain", nullptr));) {
        if (other == hwnd_ || _wcsicmp(ProgramOf(other).c_str(), self.c_str()) != 0) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(other, &pid);
        AllowSetForegroundWindow(pid);
        PostMessageW(other, ShowRunningMessage(), 0, 0);
        return true;
    }
    return false;
}

bool FrmMain::OnTrayEvent(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == TrayIcon::kCallbackMessage && wp == TrayIcon::kId) {
        OnTrayMessage(lp);
    } else if (msg == ShowRunningMessage()) {
        FromTray();
    } else if (msg == TrayIcon::TaskbarCreatedMessage() && msg) {
        // A new Explorer knows no icon: it is put back, or the window keeps
        // its taskbar button until it can be.
        if (tray_ && tray_->Wanted() && !tray_->Restore()) {
            ShowWindow(hwnd_, SW_SHOWMINNOACTIVE);
            SetTimer(hwnd_, kTrayTimer, 2000, nullptr);
        }
    } else if (msg == WM_TIMER && wp == kTrayTimer) {
        if (tray_ && tray_->Wanted() && !tray_->Retry()) return true;
        KillTimer(hwnd_, kTrayTimer);
        if (tray_ && tray_->Shown() && IsIconic(hwnd_)) ShowWindow(hwnd_, SW_HIDE);
    } else if (msg == WM_SIZE && wp == SIZE_MINIMIZED) {
        if (trayMode_ && !Silent() && IsWindowVisible(hwnd_)) ToTray();
        return false;  // the default handling too
    } else {
        return false;
    }
    return true;
}

}  // namespace quillon::ui
