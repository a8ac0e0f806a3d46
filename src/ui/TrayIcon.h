#pragma once
// The window's icon in the notification area, for the mode that hides the
// minimised window there. Known to the shell by its window and id (no
// GUID: a GUID ties the icon to the program's path, and this program is
// moved about), with the classic callback: the owner gets kCallbackMessage
// with wParam = kId and lParam = the mouse message (WM_LBUTTONUP,
// WM_RBUTTONUP, ...); other values (balloon notices, NIN_*) may come too and
// need no answer. No NIM_SETVERSION: version 4 would change that shape.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

namespace quillon::ui {

// Shell_NotifyIconW's shape. Only tests pass their own, to have the shell
// refuse an icon as Explorer does while it starts at log-on.
using NotifyIconFn = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

class TrayIcon {
public:
    static constexpr UINT kId = 1;
    static constexpr UINT kCallbackMessage = WM_APP + 1;
    // The message a new Explorer sends every top-level window once its
    // notification area is up again; the owner then calls Restore().
    static UINT TaskbarCreatedMessage();

    // Shows nothing yet. The owner must be a top-level window (a
    // message-only one never hears of TaskbarCreated); the icon stays the
    // caller's. An elevated owner is let hear TaskbarCreated all the same.
    TrayIcon(HWND owner, HICON icon, NotifyIconFn notify = nullptr);
    ~TrayIcon();
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // Puts the icon there with this tip, or updates it; false where the
    // shell refused it (then Wanted() && !Shown(): keep the taskbar button
    // and call Retry() from a timer).
    bool Show(const std::wstring& tip);
    // The icon is there as far as we know.
    bool Shown() const { return shown_; }
    // Show() was called and Hide() not since.
    bool Wanted() const { return wanted_; }
    // Cut to what the tip holds; sent at once where the icon is shown.
    void SetTip(const std::wstring& tip);
    // A balloon on the icon (title cut to 63 characters, text to 255);
    // empty texts take a balloon away. False where no icon is wanted or
    // the shell refused it; an icon deleted behind our back is put back
    // with the balloon.
    bool Balloon(const std::wstring& title, const std::wstring& text, bool warning);
    void Hide();
    // After TaskbarCreated: the new Explorer knows no icon, so the one
    // wanted is added again. True when it is there.
    bool Restore();
    // For a refused icon, from the owner's timer while Wanted() &&
    // !Shown(); true once it is there.
    bool Retry();

private:
    bool Put(UINT flags, const std::wstring& title = {}, const std::wstring& text = {}, bool warning = false);
    bool Notify(DWORD message, NOTIFYICONDATAW& data) const;

    HWND owner_;
    HICON icon_;
    NotifyIconFn notify_;
    std::wstring tip_;
    bool wanted_ = false;
    bool shown_ = false;
};

// The icon's context menu; its ids are shared with the window and tests.
enum : UINT { kTrayShow = 0x7200, kTrayRefresh = 0x7201, kTrayExit = 0x7202 };

// "&Show Quillon" (the default, bold item), "&Refresh now", "E&xit"; the
// caller destroys it. Null where no menu could be made.
HMENU BuildTrayMenu();
// The menu at the cursor, for the owner; the id chosen, or 0 when it was
// dismissed (or could not be shown).
UINT TrackTrayMenu(HWND owner);

// The icon's tip: "Quillon", the address text, and "Refreshed <date>
// <time>" (lastRefresh in local time, written in the user's locale) when
// there was one; the address text is cut first, so the time stays whole.
std::wstring TrayTip(const std::wstring& addresses, const SYSTEMTIME* lastRefresh);

// text cut to fit a buffer of `capacity` characters with its nul, ending
// in "…" where cut and never between the halves of a surrogate pair.
std::wstring CutToFit(std::wstring_view text, size_t capacity);

}  // namespace quillon::ui
