#include "ui/FrmMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include "QuillonConfig.h"
#include "common/DoEvents.h"
#include "common/GdiHandles.h"
#include "common/OleHandles.h"
#include "common/SystemLibrary.h"
#include "controls/Picture.h"
#include "resource.h"
#include "settings/Modini.h"
#include "theme/ThemeApi.h"
#include "theme/mdXpThemeSupport.h"

namespace quillon::ui {
namespace {

using controls::ControlKind;

constexpr wchar_t kClassName[] = L"FrmMain";
constexpr wchar_t kDefaultLog[] = L"C:\\IP_log.txt";
constexpr int kClientWidth = 4590, kClientHeight = 2385;  // twips

struct ControlSpec {
    int id;
    const wchar_t* name;
    ControlKind kind;
    const wchar_t* windowClass;
    const wchar_t* text;
    DWORD style;
    DWORD exStyle;
    int left, top, width, height;  // twips
};

// In tab order: the window system moves the focus in creation order.
const ControlSpec kControls[] = {
    {IDC_TEXT2, L"Text2", ControlKind::TextBox, L"EDIT", kDefaultLog, WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, 60, 960,
     4455, 270},
    {IDC_CHECK1, L"Check1", ControlKind::CheckBox, L"BUTTON", L"Overwrite log file", WS_TABSTOP | BS_3STATE, 0, 60, 1290, 2085,
     255},
    {IDC_CHECK2, L"Check2", ControlKind::CheckBox, L"BUTTON", L"Save Date && Time In Log", WS_TABSTOP | BS_3STATE, 0, 2220,
     1290, 2295, 255},
    // Its text is its name for screen readers; it shows only its picture.
    {IDC_COMMAND1, L"Command1", ControlKind::CommandButton, L"BUTTON", L"Refresh", WS_TABSTOP | BS_OWNERDRAW, 0, 1920,
     270, 375, 285},
    {IDC_TEXT1, L"Text1", ControlKind::TextBox, L"EDIT", L"", WS_TABSTOP | ES_AUTOHSCROLL | ES_READONLY, WS_EX_CLIENTEDGE, 60,
     270, 1785, 270},
    {IDC_LABEL1, L"Label1", ControlKind::Label, L"STATIC", L"Your Internet IP:", SS_LEFT, 0, 60, 60, 1755, 225},
    {IDC_LABEL2, L"Label2", ControlKind::Label, L"STATIC", L"Log:", SS_LEFT, 0, 60, 750, 1605, 225},
    {IDC_LABEL3, L"Label3", ControlKind::Label, L"STATIC",
     L"Run this program with the parameter -s to run it silently. The program will then run, log the ip and "
     L"then close.",
     SS_CENTER, 0, 60, 1680, 4485, 495},
    {IDC_LABEL4, L"Label4", ControlKind::Label, L"STATIC", L"Follow Varnhold on Facebook", SS_LEFT | SS_NOTIFY, 0, 330, 2130,
     2340, 180},
    {IDC_IMAGE1, L"Image1", ControlKind::Picture, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE, 0, 4050, 60, 480, 480},
    {IDC_IMAGE2, L"Image2", ControlKind::Picture, L"STATIC", L"", SS_ICON | SS_CENTERIMAGE | SS_NOTIFY, 0, 60, 2100, 240, 240},
};

// The form's collection, in the window's order from top to bottom.
const wchar_t* const kCollectionOrder[] = {L"Label1", L"Image1", L"Text1",  L"Command1", L"Label2", L"Text2",
                                           L"Check1", L"Check2", L"Label3", L"Image2",   L"Label4"};

int ScreenDpi() {
    const WindowDc screen;
    const int dpi = GetDeviceCaps(screen.get(), LOGPIXELSX);
    return dpi > 0 ? dpi : 96;
}

// The window class, registered at the first Create that finds it missing.
// Its icons are the module's shared ones, which nothing destroys and a
// failed registration does not leak.
bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(instance, kClassName, &wc)) return wc.lpfnWndProc == procedure;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON, 32, 32, LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_QUILLON), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
}

int TwipsToPixels(int twips, int dpi) { return MulDiv(twips, dpi, 1440); }

// The tooltip class lives in the common controls, bound at run time
// through the visual-style layer's table like the rest of that library.
void InitTooltipClass() {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES};
    if (auto init = theme::Api().InitCommonControlsEx.Bind()) init(&icc);
}

}  // namespace

FrmMain::FrmMain(RunMode mode)
    : onEnd([](int code) { ExitProcess(static_cast<UINT>(code)); }), mode_(mode), cycle_(*this, QUILLON_ADDRESS_HOST) {
    detached_.text2 = kDefaultLog;  // Text2's design text, as in the control
}

FrmMain::~FrmMain() {
    if (tooltip_) DestroyWindow(tooltip_);
    if (hwnd_) {
        // Not the close handler's way out: only tests take down a window.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

HWND FrmMain::Item(const wchar_t* name) const {
    const controls::Control* c = form_ ? form_->Find(name) : nullptr;
    return c ? c->Handle() : nullptr;
}

void FrmMain::Show() {
    // Without a window a silent run still does its job; a normal start has
    // nothing to show and ends at once.
    if (!hwnd_ && !Create() && mode_ != RunMode::Silent) {
        End(1);
        return;
    }
    Form_Load();
    if (bSilent != 0 || !hwnd_) return;
    AddTooltip();
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    SetFocus(ctl_.text2);
}

bool FrmMain::Create() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterWindowClass(instance, WndProc)) return false;
    hand_ = static_cast<HCURSOR>(LoadImageW(instance, MAKEINTRESOURCEW(IDC_HANDPOINTER), IMAGE_CURSOR, 32, 32, LR_SHARED));

    // A fixed single border with the close box only.
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;
    const int dpi = ScreenDpi();
    RECT frame{0, 0, TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - w) / 2, y = work.top + (work.bottom - work.top - h) / 2;
    const std::wstring title = std::wstring(L"Quillon By ") + QUILLON_MAKER_SITE;
    CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, title.c_str(), style, x, y, w, h, nullptr, nullptr, instance,
                    this);
    if (!hwnd_) return false;
    CreateControls();
    return true;
}

void FrmMain::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const int dpi = ScreenDpi();
    form_ = controls::Form::Create(hwnd_);
    form_->font = controls::CreateOleFont(L"Verdana", 6.75, FW_BOLD, ANSI_CHARSET);
    HFONT font = controls::FontHandle(form_->font.get());

    HWND made[std::size(kControls)] = {};
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ControlSpec& s = kControls[i];
        made[i] = CreateWindowExW(s.exStyle, s.windowClass, s.text, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | s.style,
                                  TwipsToPixels(s.left, dpi), TwipsToPixels(s.top, dpi), TwipsToPixels(s.width, dpi),
                                  TwipsToPixels(s.height, dpi), hwnd_, reinterpret_cast<HMENU>(INT_PTR{s.id}),
                                  instance, nullptr);
        SendMessageW(made[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    // Labels lie beneath the other controls, so a label that reaches into
    // a text box never paints over its edge; among themselves a later label
    // lies over an earlier one.
    for (size_t i = std::size(kControls); i-- > 0;)
        if (kControls[i].kind == ControlKind::Label)
            SetWindowPos(made[i], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const wchar_t* name : kCollectionOrder)
        for (size_t i = 0; i < std::size(kControls); ++i)
            if (std::wcscmp(kControls[i].name, name) == 0) form_->Add(kControls[i].kind, name, made[i]);
    ctl_ = {GetDlgItem(hwnd_, IDC_TEXT1),    GetDlgItem(hwnd_, IDC_TEXT2),  GetDlgItem(hwnd_, IDC_CHECK1),
            GetDlgItem(hwnd_, IDC_CHECK2),   GetDlgItem(hwnd_, IDC_COMMAND1), GetDlgItem(hwnd_, IDC_IMAGE2),
            GetDlgItem(hwnd_, IDC_LABEL4)};

    controls::Control& command1 = *form_->Find(L"Command1");
    command1.style = 1;  // graphical
    command1.caption = L"";
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
    for (size_t i = 0; i < std::size(kControls); ++i)
        if (kControls[i].kind == ControlKind::Picture)
            MoveWindow(made[i], TwipsToPixels(kControls[i].left, dpi), TwipsToPixels(kControls[i].top, dpi),
                       TwipsToPixels(kControls[i].width, dpi), TwipsToPixels(kControls[i].height, dpi), FALSE);

    // Label4 is sized to its text.
    HWND label4 = ctl_.label4;
    SIZE extent{};
    {
        const WindowDc dc(label4);
        const Selection selected(dc.get(), font);
        const std::wstring text = controls::WindowText(label4);
        GetTextExtentPoint32W(dc.get(), text.c_str(), static_cast<int>(text.size()), &extent);
    }
    SetWindowPos(label4, nullptr, 0, 0, extent.cx, extent.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// Made when the window is first shown: a silent run, which never shows
// it, has no use for it.
void FrmMain::AddTooltip() {
    if (tooltip_ || !hwnd_) return;
    InitTooltipClass();
    tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr, GetModuleHandleW(nullptr),
                               nullptr);
    if (!tooltip_) return;
    TTTOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = hwnd_;
    tool.uId = reinterpret_cast<UINT_PTR>(ctl_.command1);
    tool.lpszText = const_cast<LPWSTR>(L"Refresh");
    SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void FrmMain::Form_Load() {
    if (form_) theme::FixThemeSupport(form_->Controls());
    bSilent = 0;
    const std::wstring path = settings::SettingsPath();
    // Before anything is written back: a silent run with a wrong setting
    // ends at once, and leaves the file as it is.
    if (!ReadServerSettings(path) && mode_ == RunMode::Silent) {
        End(2);
        return;
    }
    SetText2(settings::ReadIniValue(L"Main", L"log", path));
    const int overwrite = settings::ParseCheckState(settings::ReadIniValue(L"Main", L"overwrite", path));
    if (overwrite >= 0) SetCheckValue(kOverwrite, overwrite);
    const int date = settings::ParseCheckState(settings::ReadIniValue(L"Main", L"date", path));
    if (date >= 0) SetCheckValue(kDate, date);
    DoEvents();
    if (LogPath().empty()) SetText2(kDefaultLog);
    DoEvents();
    if (mode_ == RunMode::Silent) {
        bSilent = -1;
        ShowWindow(hwnd_, SW_HIDE);
    }
    DoEvents();
    Command1_Click();
    DoEvents();
    // A silent start ends here whatever the cycle did: a scheduled task
    // never puts a window in front of the user.
    if (bSilent != 0) End(1);
}

// The user's own address server and the changes-only option. A url that
// is not accepted is said once, plainly; the window then fetches nothing.
bool FrmMain::ReadServerSettings(const std::wstring& settingsPath) {
    changesOnly_ = settings::ReadIniValue(L"Main", L"changes", settingsPath) == L"1";
    const std::wstring url = settings::ReadIniValue(L"Main", L"url", settingsPath);
    std::wstring problem;
    if (url.empty()) return true;
    if (const auto server = net::ParseServerUrl(url, &problem)) {
        cycle_.server = *server;
        return true;
    }
    serverRejected_ = true;
    if (mode_ != RunMode::Silent) {
        const std::wstring shown = url.size() > 300 ? url.substr(0, 300) + L"\u2026" : url;
        const std::wstring text = L"The setting url in [Main] of Quillon_settings.ini is not accepted: " + problem +
                                  L".\n\n    url=" + shown + L"\n\nAccepted: " + net::kAcceptedUrls +
                                  L"\n\nQuillon fetches nothing until it is corrected. Without url, it asks its "
                                  L"built-in address server.";
        MessageBoxW(hwnd_, text.c_str(), L"Quillon", MB_OK | MB_ICONWARNING);
    }
    return false;
}

void FrmMain::End(int exitCode) {
    if (onEnd) onEnd(exitCode);
}

void FrmMain::Unload(bool bDone) { End(bDone ? 0 : 1); }

// Each value lives in its control, or in detached_ when there is no window.
std::wstring FrmMain::AddressText() { return ctl_.text1 ? controls::WindowText(ctl_.text1) : detached_.text1; }
void FrmMain::SetAddressText(const std::wstring& text) {
    // The same address again changes nothing; the edit control would still
    // lay its text out anew.
    if (!ctl_.text1)
        detached_.text1 = text;
    else if (controls::WindowText(ctl_.text1) != text)
        SetWindowTextW(ctl_.text1, text.c_str());
}
std::wstring FrmMain::LogPath() { return ctl_.text2 ? controls::WindowText(ctl_.text2) : detached_.text2; }
int FrmMain::OverwriteState() { return CheckValue(kOverwrite); }
int FrmMain::DateState() { return CheckValue(kDate); }

int FrmMain::CheckValue(Option option) {
    HWND box = OptionBox(option);
    return box ? static_cast<int>(SendMessageW(box, BM_GETCHECK, 0, 0)) : detached_.checks[option];
}

void FrmMain::SetText2(const std::wstring& text) {
    if (LogPath() == text) return;
    if (ctl_.text2) {
        settingText2_ = true;
        SetWindowTextW(ctl_.text2, text.c_str());
        settingText2_ = false;
    } else {
        detached_.text2 = text;
    }
    Text2_Change();
}

void FrmMain::SetCheckValue(Option option, int value) {
    if (CheckValue(option) == value) return;
    if (HWND box = OptionBox(option))
        SendMessageW(box, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    else
        detached_.checks[option] = value;
    if (option == kOverwrite)
        Check1_Click();
    else
        Check2_Click();
}

void FrmMain::Check1_Click() {
    settings::WriteIniValue(L"Main", L"overwrite", std::to_wstring(OverwriteState()), settings::SettingsPath());
}

void FrmMain::Check2_Click() {
    settings::WriteIniValue(L"Main", L"date", std::to_wstring(DateState()), settings::SettingsPath());
}

void FrmMain::Text2_Change() {
    settings::WriteIniValue(L"Main", L"log", LogPath(), settings::SettingsPath());
}

void FrmMain::Link_Click() {
    // Bound at the first click: most runs never need the shell.
    using ShellExecuteFn = decltype(&ShellExecuteA);
    static const auto shellExecute = ProcAddress<ShellExecuteFn>(LoadSystemLibrary(L"shell32.dll"), "ShellExecuteA");
    if (shellExecute) shellExecute(hwnd_, "Open", QUILLON_MAKER_PAGE, "", "", SW_SHOWNORMAL);
}

void FrmMain::OnCommand(HWND from, WORD code) {
    if (!from) return;
    if (from == ctl_.command1 && code == BN_CLICKED) {
        Command1_Click();
    } else if ((from == ctl_.check1 || from == ctl_.check2) && code == BN_CLICKED) {
        // A click checks a cleared or grayed box and clears a checked one.
        const Option option = from == ctl_.check1 ? kOverwrite : kDate;
        SetCheckValue(option, CheckValue(option) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    } else if (from == ctl_.text2 && code == EN_CHANGE) {
        if (!settingText2_) Text2_Change();
    } else if ((from == ctl_.image2 || from == ctl_.label4) && code == STN_CLICKED) {
        Link_Click();
    }
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

LRESULT CALLBACK FrmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<FrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (self) {
            self->hwnd_ = nullptr;
            self->ctl_ = {};
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self ? self->OnMessage(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT FrmMain::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_COMMAND:
            OnCommand(reinterpret_cast<HWND>(lp), HIWORD(wp));
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (item && item->hwndItem == ctl_.command1) {
                DrawCommand1(*item);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_SETCURSOR: {
            const HWND over = reinterpret_cast<HWND>(wp);
            if (hand_ && (over == ctl_.image2 || over == ctl_.label4)) {
                SetCursor(hand_);
                return TRUE;
            }
            break;
        }
        case WM_CLOSE:
            // Every way of closing the window ends the program at once;
            // the settings were saved as they changed.
            End(0);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wp) End(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace quillon::ui
