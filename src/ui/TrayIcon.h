#pragma once
// The window's icon in the notification area, for the mode that hides the
// minimised window there. Known to the shell by its window and id (no
// GUID: a GUID ties the icon to the program's path, and this program is
// moved about). Each add is followed by NIM_SETVERSION, asking for version
// 4 and taking the older one, or none, where the shell refuses it: with a
// version the shell sends WM_CONTEXTMENU, NIN_SELECT and NIN_KEYSELECT, so
// the icon answers the keyboard too. The version decides the callback's
// shape; Decode() reads either.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <string_view>

namespace quillon::ui {

// Shell_NotifyIconW's shape. Only tests pass their own, to have the shell
// refuse an icon as Explorer does while it starts at log-on.
using NotifyIconFn = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAW data);

// One callback message, read in the shape of the version in force.
struct TrayEvent {
    UINT event = 0;  // WM_LBUTTONUP, WM_CONTEXTMENU, NIN_SELECT, ...
    UINT id = 0;     // the icon's id
    // Version 4 says where: the click's place, or the icon's for the
    // keyboard.
    bool anchored = false;
    POINT at{};
};

// Before version 4, wParam is the id and lParam the event; from it, lParam
// holds the event (low word) and the id (high word), and wParam the anchor.
TrayEvent DecodeTrayMessage(UINT version, WPARAM wp, LPARAM lp);

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
    // The version the shell took at the last add: NOTIFYICON_VERSION_4,
    // NOTIFYICON_VERSION, or 0 for none.
    UINT Version() const { return version_; }
    // A kCallbackMessage's wParam and lParam, in the shape of Version().
    TrayEvent Decode(WPARAM wp, LPARAM lp) const { return DecodeTrayMessage(version_, wp, lp); }

private:
    bool Put(UINT flags, const std::wstring& title = {}, const std::wstring& text = {}, bool warning = false);
    bool Notify(DWORD message, NOTIFYICONDATAW& data) const;
    void SetVersion();

    HWND owner_;
    HICON icon_;
    NotifyIconFn notify_;
    std::wstring tip_;
    bool wanted_ = false;
    bool shown_ = false;
    UINT version_ = 0;
};

// The icon's context menu; its ids are shared with the window and tests.
enum : UINT { kTrayShow = 0x7200, kTrayRefresh = 0x7201, kTrayExit = 0x7202 };

// "&Show Quillon" (the default, bold item), "&Refresh now", "E&xit"; the
// caller destroys it. Null where no menu could be made.
HMENU BuildTrayMenu();
// The menu for the owner, at `at` (screen coordinates) or, when null, at
// the cursor; the id chosen, or 0 when it was dismissed (or could not be
// shown).
UINT TrackTrayMenu(HWND owner, const POINT* at = nullptr);

// The icon's tip: "Quillon", the address text, and "Refreshed <date>
// <time>" (lastRefresh in local time, written in the user's locale) when
// there was one; the address text is cut first, so the time stays whole.
std::wstring TrayTip(const std::wstring& addresses, const SYSTEMTIME* lastRefresh);

// text cut to fit a buffer of `capacity` characters with its nul, ending
// in "…" where cut and never between the halves of a surrogate pair.
std::wstring CutToFit(std::wstring_view text, size_t capacity);

}  // namespace quillon::ui
