#include "ui/ProblemTip.h"

#include <commctrl.h>

#include "theme/ThemeApi.h"
#include "ui/FrmMainLayout.h"

namespace quillon::ui {
namespace {

constexpr UINT_PTR kToolId = 1;

TTTOOLINFOW Tool(HWND owner, const std::wstring* text = nullptr) {
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_TRACK | TTF_ABSOLUTE;
    tool.hwnd = owner;
    tool.uId = kToolId;
    tool.lpszText = const_cast<LPWSTR>(text ? text->c_str() : L"");
    return tool;
}

// A click on the balloon puts it away until the next problem.
LRESULT CALLBACK Dismissable(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR self) {
    if (msg == WM_LBUTTONDOWN) {
        reinterpret_cast<ProblemTip*>(self)->Dismiss();
        return 0;
    }
    auto pass = theme::Api().DefSubclassProc.Bind();
    return pass ? pass(hwnd, msg, wp, lp) : 0;
}

}  // namespace

void InitTooltipClass() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    if (auto init = theme::Api().InitCommonControlsEx.Bind()) init(&icc);
}

ProblemTip::~ProblemTip() {
    if (tip_) DestroyWindow(tip_);
}

void ProblemTip::Set(HWND owner, HWND control, const std::wstring& title, const std::wstring& text, int icon) {
    // The same again is no new problem: it stays as it is, put away or not.
    if (owner == owner_ && control == control_ && title == title_ && text == text_ && icon == icon_) return;
    Hide();  // shown again, sized to the new text
    if (tip_ && owner != owner_) {
        DestroyWindow(tip_);
        tip_ = nullptr;
    }
    owner_ = owner;
    control_ = control;
    title_ = title;
    text_ = text;
    icon_ = icon;
    dismissed_ = false;
    Update();
}

void ProblemTip::Hide() {
    if (!shown_) return;
    TTTOOLINFOW tool = Tool(owner_);
    SendMessageW(tip_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&tool));
    shown_ = false;
}

void ProblemTip::Dismiss() {
    dismissed_ = true;
    Update();
}

void ProblemTip::Update() {
    const bool wanted = !text_.empty() && !dismissed_ && owner_ && control_ && IsWindowVisible(owner_) &&
                        GetActiveWindow() == owner_;
    if (!wanted) {
        Hide();
        return;
    }
    if (!tip_) {
        InitTooltipClass();
        tip_ = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_BALLOON | TTS_NOPREFIX | TTS_ALWAYSTIP,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner_, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
        if (!tip_) return;
        TTTOOLINFOW tool = Tool(owner_, &text_);
        SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        if (auto subclass = theme::Api().SetWindowSubclass.Bind())
            subclass(tip_, Dismissable, 0, reinterpret_cast<DWORD_PTR>(this));
        // Several lines rather than one across the screen.
        SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, MulDiv(420, ScreenDpi(), 96));
    }
    TTTOOLINFOW tool = Tool(owner_, &text_);
    SendMessageW(tip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageW(tip_, TTM_SETTITLEW, static_cast<WPARAM>(icon_), reinterpret_cast<LPARAM>(title_.c_str()));
    RECT box{};
    GetWindowRect(control_, &box);
    const int x = box.left + (box.right - box.left < 48 ? (box.right - box.left) / 2 : 24);
    SendMessageW(tip_, TTM_TRACKPOSITION, 0, MAKELPARAM(x, box.bottom));
    SendMessageW(tip_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&tool));
    shown_ = true;
}

}  // namespace quillon::ui
