#pragma once
// The window's controls as designed: kind, text, style and place in twips.
#include <windows.h>

#include "common/GdiHandles.h"
#include "controls/Control.h"
#include "resource.h"

namespace quillon::ui {

constexpr int kClientWidth = 4590, kClientHeight = 2385;  // twips

struct ControlSpec {
    int id;
    const wchar_t* name;
    controls::ControlKind kind;
    const wchar_t* windowClass;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    int left, top, width, height;  // twips
};

// In tab order: the window system moves the focus in creation order.
// Text2's design text is the default log path, set as it is made.
inline const ControlSpec kControls[] = {
    {IDC_TEXT2, L"Text2", controls::ControlKind::TextBox, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE,
     60, 960, 4455, 270},
    {IDC_CHECK1, L"Check1", controls::ControlKind::CheckBox, L"BUTTON", L"Overwrite log file", WS_TABSTOP | BS_3STATE,
     0, 60, 1290, 2085, 255},
    {IDC_CHECK2, L"Check2", controls::ControlKind::CheckBox, L"BUTTON", L"Save Date && Time In Log",
     WS_TABSTOP | BS_3STATE, 0, 2220, 1290, 2295, 255},
    // Its text is its name for screen readers; it shows only its picture.
    {IDC_COMMAND1, L"Command1", controls::ControlKind::CommandButton, L"BUTTON", L"Refresh", WS_TABSTOP | BS_OWNERDRAW,
     0, 1920, 270, 375, 285},
    {IDC_TEXT1, L"Text1", controls::ControlKind::TextBox, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY,
     WS_EX_CLIENTEDGE, 60, 270, 1785, 270},
    {IDC_LABEL1, L"Label1", controls::ControlKind::Label, L"STATIC", L"Your Internet IP:", SS_LEFT, 0, 60, 60, 1755,
     225},
    {IDC_LABEL2, L"Label2", controls::ControlKind::Label, L"STATIC", L"Log:", SS_LEFT, 0, 60, 750, 1605, 225},
    {IDC_LABEL3, L"Label3", controls::ControlKind::Label, L"STATIC",
     L"Run this program with the parameter -s to run it silently. The program will then run, log the ip and "
     L"then close.",
     SS_CENTER, 0, 60, 1680, 4485, 495},
    {IDC_LABEL4, L"Label4", controls::ControlKind::Label, L"STATIC", L"Follow Varnhold on Facebook",
     SS_LEFT | SS_NOTIFY, 0, 330, 2130, 2340, 180},
    {IDC_IMAGE1, L"Image1", controls::ControlKind::Picture, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, 0, 4050, 60, 480,
     480},
    {IDC_IMAGE2, L"Image2", controls::ControlKind::Picture, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE | SS_NOTIFY, 0,
     60, 2100, 240, 240},
};

// The form's collection, in the window's order from top to bottom.
inline const wchar_t* const kCollectionOrder[] = {L"Label1", L"Image1", L"Text1",  L"Command1", L"Label2", L"Text2",
                                                  L"Check1", L"Check2", L"Label3", L"Image2",   L"Label4"};

inline int ScreenDpi() {
    const WindowDc screen;
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
    return dpi > 0 ? dpi : 96;
}

inline int TwipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

}  // namespace quillon::ui
