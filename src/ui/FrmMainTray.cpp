// The window's life in the notification area, for tray=1: a minimised
// window hides its taskbar button there, and its icon brings it back.
#include "common/ModulePath.h"
#include "common/NamedLock.h"
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

// Made by every normal start of this copy and held until the process ends;
// true where another normal start of it had made it first. Local\: one
// window per copy in each session, as the user sees it.
bool CopyAlreadyRunning() {
    static const bool existed = [] {
        bool before = false;
        // Never closed: the name stands as long as this start runs.
        OwnerOnlyMutex(L"Local\\", NamedLock::NameFor(L"window", ModulePath()), &before);
        return before;
    }();
    return existed;
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

void FrmMain::OnTrayMessage(const TrayEvent& e) {
    if (e.event == WM_LBUTTONUP || e.event == WM_LBUTTONDBLCLK || e.event == NIN_BALLOONUSERCLICK ||
        e.event == NIN_SELECT || e.event == NIN_KEYSELECT) {
        // A click, or Enter or Space on the icon: the menu's default item.
        FromTray();
        return;
    }
    // With a version the shell follows WM_RBUTTONUP with WM_CONTEXTMENU
    // (Shift+F10 and the menu key send that alone): one menu for one click.
    const bool versioned = tray_ && tray_->Version() != 0;
    if (e.event != WM_CONTEXTMENU && !(e.event == WM_RBUTTONUP && !versioned)) return;
    // Version 4 gives the place: the click's, or the icon's for the keyboard.
    switch (TrackTrayMenu(hwnd_, e.anchored ? &e.at : nullptr)) {
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

// Every normal start of a copy marks itself running; a later one with
// tray=1 brings the running window back and ends. A silent run's window,
// also of this program, never answers.
void FrmMain::MarkCopyRunning() { CopyAlreadyRunning(); }

bool FrmMain::ShowRunningCopy() {
    if (!CopyAlreadyRunning() || !trayMode_) return false;
    const std::wstring self = ModulePath();
    for (HWND other = nullptr; (other = FindWindowExW(nullptr, other, L"FrmMain", nullptr));) {
        if (other == hwnd_ || _wcsicmp(ProgramOf(other).c_str(), self.c_str()) != 0) continue;
        DWORD pid = 0;
        GetWindowThreadProcessId(other, &pid);
        AllowSetForegroundWindow(pid);
        PostMessageW(other, ShowRunningMessage(), 0, 0);
    }
    return true;
}

bool FrmMain::OnTrayEvent(UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == TrayIcon::kCallbackMessage) {
        const TrayEvent e = tray_ ? tray_->Decode(wp, lp) : DecodeTrayMessage(0, wp, lp);
        if (e.id == TrayIcon::kId) OnTrayMessage(e);
    } else if (msg == ShowRunningMessage()) {
        if (!Silent()) FromTray();
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
