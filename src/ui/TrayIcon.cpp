#include "ui/TrayIcon.h"

#include <windowsx.h>

#include <iterator>
#include <memory>
#include <type_traits>

#include "common/SystemLibrary.h"

namespace quillon::ui {
namespace {

using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, decltype(&DestroyMenu)>;

NotifyIconFn ShellNotifyIcon() {
    // Bound at the first use: most runs never show an icon.
    static const auto notify = ProcAddress<NotifyIconFn>(LoadSystemLibrary(L"shell32.dll"), "Shell_NotifyIconW");
    return notify;
}

// An elevated window hears nothing from the (unelevated) Explorer unless it
// lets these messages through. The per-window filter is Windows 7's; Vista
// has the per-process one.
void AllowFromExplorer(HWND owner, UINT message) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    using FilterExFn = decltype(&ChangeWindowMessageFilterEx);
    using FilterFn = decltype(&ChangeWindowMessageFilter);
    if (auto filterEx = ProcAddress<FilterExFn>(user32, "ChangeWindowMessageFilterEx")) {
        filterEx(owner, message, MSGFLT_ALLOW, nullptr);
    } else if (auto filter = ProcAddress<FilterFn>(user32, "ChangeWindowMessageFilter")) {
        filter(message, MSGFLT_ADD);
    }
}

template <size_t N>
void CopyCut(WCHAR (&field)[N], const std::wstring& text) {
    const std::wstring cut = CutToFit(text, N);
    cut.copy(field, N - 1);
    field[cut.size()] = L'\0';
}

std::wstring Formatted(const SYSTEMTIME& time) {
    wchar_t date[80], clock[80];
    if (!GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, 80, nullptr) ||
        !GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, TIME_NOSECONDS, &time, nullptr, clock, 80))
        return {};
    return std::wstring(date) + L" " + clock;
}

}  // namespace

std::wstring CutToFit(std::wstring_view text, size_t capacity) {
    if (text.size() < capacity) return std::wstring(text);
    if (capacity < 2) return {};
    size_t keep = capacity - 2;  // room for the "…" and the nul
    if (keep > 0 && IS_HIGH_SURROGATE(text[keep - 1])) --keep;
    return std::wstring(text.substr(0, keep)) + L"\u2026";
}

UINT TrayIcon::TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

TrayIcon::TrayIcon(HWND owner, HICON icon, NotifyIconFn notify) : owner_(owner), icon_(icon), notify_(notify) {
    AllowFromExplorer(owner_, TaskbarCreatedMessage());
    AllowFromExplorer(owner_, kCallbackMessage);
}

TrayIcon::~TrayIcon() { Hide(); }

bool TrayIcon::Notify(DWORD message, NOTIFYICONDATAW& data) const {
    NotifyIconFn notify = notify_ ? notify_ : ShellNotifyIcon();
    return notify && notify(message, &data);
}

bool TrayIcon::Put(UINT flags, const std::wstring& title, const std::wstring& text, bool warning) {
    NOTIFYICONDATAW data{};
    // XP's layout, without Vista's hBalloonIcon: every Windows from XP on,
    // and Wine, take this size; nothing here needs the balloon's own icon.
    data.cbSize = NOTIFYICONDATAW_V3_SIZE;
    data.hWnd = owner_;
    data.uID = kId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | flags;
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = icon_;
    CopyCut(data.szTip, tip_);
    if (flags & NIF_INFO) {
        CopyCut(data.szInfoTitle, title);
        CopyCut(data.szInfo, text);
        data.dwInfoFlags = warning ? NIIF_WARNING : NIIF_INFO;
        data.uTimeout = 10000;  // before Vista; later ones decide for themselves
    }
    // Either way round may be wrong: an add that timed out in a busy
    // Explorer may still have made the icon, and another program may have
    // deleted the one we made. So the other call is tried before giving up.
    const DWORD first = shown_ ? NIM_MODIFY : NIM_ADD;
    const bool firstDone = Notify(first, data);
    shown_ = firstDone || Notify(first == NIM_ADD ? NIM_MODIFY : NIM_ADD, data);
    // An icon that an add made starts with no version, whichever call said
    // it is there.
    if (shown_ && (first == NIM_ADD || !firstDone)) SetVersion();
    return shown_;
}

void TrayIcon::SetVersion() {
    NOTIFYICONDATAW data{};
    data.cbSize = NOTIFYICONDATAW_V3_SIZE;
    data.hWnd = owner_;
    data.uID = kId;
    version_ = 0;
    for (UINT version : {UINT{NOTIFYICON_VERSION_4}, UINT{NOTIFYICON_VERSION}}) {
        data.uVersion = version;
        if (Notify(NIM_SETVERSION, data)) {
            version_ = version;
            return;
        }
    }
}

TrayEvent DecodeTrayMessage(UINT version, WPARAM wp, LPARAM lp) {
    TrayEvent e;
    if (version >= NOTIFYICON_VERSION_4) {
        e.event = LOWORD(lp);
        e.id = HIWORD(lp);
        // Signed: a screen left of or above the main one has negative
        // coordinates.
        e.at = {GET_X_LPARAM(wp), GET_Y_LPARAM(wp)};
        e.anchored = true;
    } else {
        e.event = static_cast<UINT>(lp);
        e.id = static_cast<UINT>(wp);
    }
    return e;
}

bool TrayIcon::Show(const std::wstring& tip) {
    tip_ = CutToFit(tip, std::size(NOTIFYICONDATAW{}.szTip));
    wanted_ = true;
    return Put(0);
}

void TrayIcon::SetTip(const std::wstring& tip) {
    tip_ = CutToFit(tip, std::size(NOTIFYICONDATAW{}.szTip));
    // A refused icon gets the tip at its next retry, not a wait on the
    // shell now.
    if (shown_) Put(0);
}

bool TrayIcon::Balloon(const std::wstring& title, const std::wstring& text, bool warning) {
    if (!wanted_) return false;
    return Put(NIF_INFO, title, text, warning);
}

void TrayIcon::Hide() {
    // An icon the shell said it refused may be there all the same.
    if (wanted_ || shown_) {
        NOTIFYICONDATAW data{};
        data.cbSize = NOTIFYICONDATAW_V3_SIZE;
        data.hWnd = owner_;
        data.uID = kId;
        Notify(NIM_DELETE, data);
    }
    wanted_ = shown_ = false;
    version_ = 0;
}

bool TrayIcon::Restore() {
    if (!wanted_) return false;
    shown_ = false;  // a new Explorer knows no icon of ours
    return Put(0);
}

bool TrayIcon::Retry() {
    if (!wanted_) return false;
    return shown_ || Put(0);
}

HMENU BuildTrayMenu() {
    UniqueMenu menu(CreatePopupMenu(), &DestroyMenu);
    if (!menu || !AppendMenuW(menu.get(), MF_STRING, kTrayShow, L"&Show Quillon") ||
        !AppendMenuW(menu.get(), MF_STRING, kTrayRefresh, L"&Refresh now") ||
        !AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr) ||
        !AppendMenuW(menu.get(), MF_STRING, kTrayExit, L"E&xit"))
        return nullptr;
    SetMenuDefaultItem(menu.get(), kTrayShow, FALSE);
    return menu.release();
}

UINT TrackTrayMenu(HWND owner, const POINT* place) {
    UniqueMenu menu(BuildTrayMenu(), &DestroyMenu);
    if (!menu) return 0;
    POINT at{};
    if (place)
        at = *place;
    else
        GetCursorPos(&at);
    // Unless the owner is in front, a click elsewhere leaves the menu open.
    SetForegroundWindow(owner);
    const UINT flags = TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON | TPM_BOTTOMALIGN |
                       (GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN);
    const BOOL chosen = TrackPopupMenuEx(menu.get(), flags, at.x, at.y, owner, nullptr);
    // Else the next click on the icon may not open it again.
    PostMessageW(owner, WM_NULL, 0, 0);
    return chosen > 0 ? static_cast<UINT>(chosen) : 0;
}

std::wstring TrayTip(const std::wstring& addresses, const SYSTEMTIME* lastRefresh) {
    constexpr size_t kTip = std::size(NOTIFYICONDATAW{}.szTip);
    const std::wstring head = L"Quillon";
    std::wstring tail;
    if (lastRefresh) {
        const std::wstring when = Formatted(*lastRefresh);
        if (!when.empty()) tail = L"\nRefreshed " + when;
    }
    std::wstring tip = head;
    if (!addresses.empty()) {
        // The addresses give way, so the time of the refresh stays whole.
        const size_t fixed = head.size() + 1 + tail.size();
        tip += L"\n" + (fixed + 1 < kTip ? CutToFit(addresses, kTip - fixed) : addresses);
    }
    return CutToFit(tip + tail, kTip);
}

}  // namespace quillon::ui
