// The window's looks: what only a shown window needs, and its own painting.
#include <windows.h>
#include <commctrl.h>

#include "common/GdiHandles.h"
#include "common/OleHandles.h"
#include "controls/Picture.h"
#include "ui/FrmMain.h"
#include "ui/FrmMainLayout.h"

namespace quillon::ui {

void FrmMain::Prepare() {
    if (prepared_ || !hwnd_) return;
    prepared_ = true;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const int dpi = ScreenDpi();

    // The module's shared icons, which nothing destroys.
    for (const auto& [which, size] : {std::pair{ICON_BIG, 32}, std::pair{ICON_SMALL, GetSystemMetrics(SM_CXSMICON)}})
        SendMessageW(hwnd_, WM_SETICON, which,
                     reinterpret_cast<LPARAM>(
                         LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON, size, size, LR_SHARED)));
    hand_ = static_cast<HCURSOR>(LoadImageW(instance, MAKEINTRESOURCEW(IDC_HANDPOINTER), IMAGE_CURSOR, 32, 32, LR_SHARED));

    form_->font = controls::CreateOleFont(L"Verdana", 6.75, FW_BOLD, ANSI_CHARSET);
    HFONT font = controls::FontHandle(form_->font.get());
    for (const controls::Control* c : form_->Controls())
        SendMessageW(c->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);

    controls::Control& command1 = *form_->Find(L"Command1");
    command1.picture = controls::PictureFromResource(IDI_REFRESH, 16);
    refreshPicture_ = FromOleHandle<HICON>(controls::PictureHandle(command1.picture.get()));
    form_->Find(L"Image1")->picture = controls::PictureFromResource(IDI_QUILLON, 32);
    form_->Find(L"Image2")->picture = controls::PictureFromResource(IDI_SOCIAL, 16);
    for (const wchar_t* name : {L"Image1", L"Image2"}) {
        const controls::Control& image = *form_->Find(name);
        SendMessageW(image.Handle(), STM_SETICON,
                     reinterpret_cast<WPARAM>(FromOleHandle<HICON>(controls::PictureHandle(image.picture.get()))), 0);
    }
    // The icon setting may have resized the pictures; put them back.
    for (const ControlSpec& s : kControls)
        if (s.kind == controls::ControlKind::Picture)
            MoveWindow(GetDlgItem(hwnd_, s.id), TwipsToPixels(s.left, dpi), TwipsToPixels(s.top, dpi),
                       TwipsToPixels(s.width, dpi), TwipsToPixels(s.height, dpi), FALSE);

    // Label4 is sized to its text.
    SIZE extent{};
    {
        const WindowDc dc(ctl_.label4);
        const Selection selected(dc.get(), font);
        const std::wstring text = controls::WindowText(ctl_.label4);
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    SetWindowPos(ctl_.label4, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // The options, reachable by keyboard too: Alt+Space, then a letter.
    AddOptions(GetSystemMenu(hwnd_, FALSE), Options());

    // The refresh button's name, for the pointer that rests on it.
    InitTooltipClass();
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, instance, nullptr);
    if (!tooltip_) return;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(ctl_.command1);
    tool.lpszText = const_cast<LPWSTR>(L"Refresh");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // The address box cuts an IPv6 address off; its tip shows each in full,
    // one a line.
    SendMessageW(tooltip_, TTM_SETMAXTIPWIDTH, 0, 600);
    tool.uId = reinterpret_cast<UINT_PTR>(ctl_.text1);
    tool.lpszText = const_cast<LPWSTR>(L"");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    UpdateAddressTip();
}

std::wstring FrmMain::AddressTip() {
    std::wstring tip = AddressText();
    for (size_t at; (at = tip.find(L"  ")) != std::wstring::npos;) tip.replace(at, 2, L"\n");
    return tip;
}

void FrmMain::UpdateAddressTip() {
    if (!tooltip_ || !ctl_.text1) return;
    const std::wstring tip = AddressTip();
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(ctl_.text1);
    tool.lpszText = const_cast<LPWSTR>(tip.c_str());
    SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void FrmMain::DrawCommand1(const DRAWITEMSTRUCT& item) {
    HDC dc = item.hDC;
    RECT r = item.rcItem;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    DrawFrameControl(dc, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (pressed ? DFCS_PUSHED : 0));
    HICON picture = refreshPicture_;
    if (picture) {
        const int offset = pressed ? 1 : 0;
        const int x = r.left + (r.right - r.left - 16) / 2 + offset;
        const int y = r.top + (r.bottom - r.top - 16) / 2 + offset;
        if (disabled)
            DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(picture), 0, x, y, 16, 16,
                       DST_ICON | DSS_DISABLED);
        else
            DrawIconEx(dc, x, y, picture, 16, 16, 0, nullptr, DI_NORMAL);
    }
    if (item.itemState & ODS_FOCUS) {
        RECT focus = r;
        InflateRect(&focus, -3, -3);
        DrawFocusRect(dc, &focus);
    }
}

LRESULT FrmMain::OnCtlColor(HDC dc, HWND control) {
    SetBkMode(dc, TRANSPARENT);
    if (control == ctl_.text1) {
        // Read-only, but it looks like the box it is, not like a label.
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    if (control == ctl_.label4)
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    else if (control == ctl_.check1 || control == ctl_.check2)
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    else
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
}

}  // namespace quillon::ui
