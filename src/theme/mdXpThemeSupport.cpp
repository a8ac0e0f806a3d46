// Theme detection, the common-controls start-up, the error sink and the
// redirection of frames and graphical buttons to themed drawing.
#include "theme/mdXpThemeSupport.h"

#include <cmath>
#include <climits>
#include <cstdio>

#include "common/GdiHandles.h"
#include "common/SystemLibrary.h"
#include "theme/ControlProperties.h"
#include "theme/ThemeInternals.h"

namespace quillon::theme {
namespace {

constexpr DWORD kAllowControls = 2;  // STAP_ALLOW_CONTROLS
constexpr const char* kHotProperty = "Hot";
constexpr const char* kPaintedProperty = "Painted";

ErrorObserver& Observer() {
    static ErrorObserver observer;
    return observer;
}

std::wstring Describe(HRESULT failure) {
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(failure), 0, reinterpret_cast<wchar_t*>(&text), 0,
                                   nullptr);
    std::wstring description;
    if (n && text) description.assign(text, n);
    if (text) LocalFree(text);
    while (!description.empty() && (description.back() == L'\n' || description.back() == L'\r' ||
                                     description.back() == L' ' || description.back() == L'.'))
        description.pop_back();
    wchar_t code[16];
    swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(failure));
    return description.empty() ? std::wstring(L"error ") + code : description + L" (" + code + L")";
}

}  // namespace

// --- the error sink and arithmetic ------------------------------------------

void pvReportError(const std::wstring& sRoutine, HRESULT failure) {
    const std::wstring line = sRoutine + L": " + Describe(failure) + L"\n";
    OutputDebugStringW(line.c_str());
    if (const ErrorObserver& observer = Observer()) observer(sRoutine, failure);
}

void SetErrorObserver(ErrorObserver observer) { Observer() = std::move(observer); }

HRESULT CheckedAdd(int a, int b, int& result) {
    const long long r = static_cast<long long>(a) + b;
    if (r < INT_MIN || r > INT_MAX) return kOverflow;
    result = static_cast<int>(r);
    return S_OK;
}

HRESULT CheckedSub(int a, int b, int& result) {
    const long long r = static_cast<long long>(a) - b;
    if (r < INT_MIN || r > INT_MAX) return kOverflow;
    result = static_cast<int>(r);
    return S_OK;
}

HRESULT RoundHalfEven(double value, int& result) {
    if (!std::isfinite(value)) return kOverflow;
    const double down = std::floor(value);
    const double fraction = value - down;
    double r = down;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(down, 2.0) != 0.0)) r = down + 1.0;
    if (r < static_cast<double>(INT_MIN) || r > static_cast<double>(INT_MAX)) return kOverflow;
    result = static_cast<int>(r);
    return S_OK;
}

// --- detection and start-up ---------------------------------------------------

bool& ThemeSupportStarted() {
    static bool started = false;
    return started;
}

void InitThemeSupport() {
    bool& started = ThemeSupportStarted();
    if (started) return;
    if (IsComCtl6Loaded()) {
        // Loaded before the common controls start, and kept loaded.
        LoadSystemLibrary(L"shell32.dll");
        auto init = Api().InitCommonControlsEx.Bind();
        // Without the export the start-up is incomplete and may run again.
        if (!init) return;
        INITCOMMONCONTROLSEX icc{};
        icc.dwSize = sizeof icc;
        icc.dwICC = ICC_USEREX_CLASSES;
        init(&icc);
    }
    started = true;
}

bool IsComCtl6Loaded() {
    const Handler handler(L"IsComCtl6Loaded");
    DLLVERSIONINFO info{};
    info.cbSize = sizeof info;
    handler.Call(Api().DllGetVersion, &info);  // the status is not needed: an unfilled record says 0
    return static_cast<LONG>(info.dwMajorVersion) >= 6;
}

bool pvIsThemed() {
    // Missing entry points answer 0 here, unreported.
    ThemeApi& api = Api();
    if (!api.IsAppThemed.Call(nullptr)) return false;
    if (!api.IsThemeActive.Call(nullptr)) return false;
    return (api.GetThemeAppProperties.Call(nullptr) & kAllowControls) != 0;
}

// --- redirection ---------------------------------------------------------------

bool FixThemeSupport(const std::vector<controls::Control*>& controls) {
    std::vector<ThemeControl> items;
    items.reserve(controls.size());
    for (controls::Control* c : controls)
        if (c) items.push_back({c->Kind(), static_cast<IDispatch*>(c)});
    return FixThemeSupport(items);
}

namespace {

// A button's registration holds a counted reference to its control object
// for the subclass's life: released when the window goes, or when a later
// registration of the same window replaces it.
void RedirectButton(const Handler& handler, HWND hwnd, IDispatch* control) {
    DWORD_PTR previous = 0;
    const bool registered = Api().GetWindowSubclass.Call(nullptr, hwnd, pvRedirectButton, 0, &previous) != FALSE;
    if (control) control->AddRef();
    if (handler.Call(Api().SetWindowSubclass, hwnd, pvRedirectButton, 0, reinterpret_cast<DWORD_PTR>(control))) {
        if (registered && previous) reinterpret_cast<IDispatch*>(previous)->Release();
    } else if (control) {
        control->Release();
    }
}

// Passes a message on along the subclass chain; 0 when that cannot be done.
LRESULT PassOn(const Handler& handler, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    return handler.Call(Api().DefSubclassProc, hWnd, uMsg, wParam, lParam);
}

}  // namespace

bool FixThemeSupport(const std::vector<ThemeControl>& controls) {
    if (!IsComCtl6Loaded()) return false;
    const Handler handler(L"FixThemeSupport");
    for (const ThemeControl& control : controls) {
        const bool frame = control.kind == controls::ControlKind::Frame;
        if (!frame) {
            if (control.kind != controls::ControlKind::CommandButton && control.kind != controls::ControlKind::OptionButton &&
                control.kind != controls::ControlKind::CheckBox)
                continue;
            LONG style = 0;
            // An unreadable style counts as graphical.
            if (handler.Check(ReadInt32(control.object, L"Style", style)) && style != 1) continue;
        }
        HWND hwnd = nullptr;
        if (!handler.Check(ReadWindow(control.object, L"hWnd", hwnd))) continue;
        if (frame)
            handler.Call(Api().SetWindowSubclass, hwnd, pvRedirectFrame, 0, 0);
        else
            RedirectButton(handler, hwnd, control.object);
    }
    return true;
}

LRESULT CALLBACK pvRedirectFrame(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                 DWORD_PTR) {
    const Handler handler(L"pvRedirectFrame");
    switch (uMsg) {
        case WM_MOUSELEAVE:
        case WM_PRINTCLIENT:
            // Past the frame's own procedure, which would draw it unthemed.
            return DefWindowProcA(hWnd, uMsg, wParam, lParam);
        case WM_NCDESTROY:
            // Nothing of the layer outlives the window.
            handler.Call(Api().RemoveWindowSubclass, hWnd, pvRedirectFrame, uIdSubclass);
            break;
        default:
            break;
    }
    return PassOn(handler, hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK pvRedirectButton(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                  DWORD_PTR dwRefData) {
    const Handler handler(L"pvRedirectButton");
    bool redrawLocked = false;

    // Before the message is passed on.
    switch (uMsg) {
        case WM_PAINT:
            if (pvIsThemed() && pvIsVisible(hWnd)) {
                pvSetPainted(hWnd, true);
                // Held for the paint as well, in case the paint replaces
                // the registration.
                const ComPtr<IDispatch> control = ComPtr<IDispatch>::Share(reinterpret_cast<IDispatch*>(dwRefData));
                const PaintDc paint(hWnd);
                pvDrawButton(hWnd, paint.get(), control.get());
                return 0;
            }
            break;
        case WM_SETFOCUS:
        case WM_ENABLE:
            if (pvIsThemed() && pvIsVisible(hWnd)) {
                // The default processing would paint the plain look.
                redrawLocked = true;
                SendMessageA(hWnd, WM_SETREDRAW, FALSE, 0);
            }
            break;
        case WM_NCDESTROY:
            RemovePropA(hWnd, kHotProperty);
            RemovePropA(hWnd, kPaintedProperty);
            handler.Call(Api().RemoveWindowSubclass, hWnd, pvRedirectButton, uIdSubclass);
            break;
        default:
            break;
    }

    const LRESULT result = PassOn(handler, hWnd, uMsg, wParam, lParam);

    // After it was passed on.
    switch (uMsg) {
        case WM_LBUTTONDOWN:
        case WM_MOUSEHOVER:
            if (pvIsThemed()) {
                pvSetHot(hWnd, true);
                handler.Check(pvInvalidateButton(hWnd));
            }
            break;
        case WM_KILLFOCUS:
        case WM_MOUSELEAVE:
            if (pvIsThemed()) {
                pvSetHot(hWnd, false);
                handler.Check(pvInvalidateButton(hWnd));
            }
            break;
        case WM_MOUSEMOVE:
            if (pvIsThemed()) {
                if (!pvGetHot(hWnd)) {
                    TRACKMOUSEEVENT track{};
                    track.cbSize = sizeof track;
                    track.hwndTrack = hWnd;
                    track.dwFlags = TME_HOVER | TME_LEAVE;
                    track.dwHoverTime = 1;
                    TrackMouseEvent(&track);
                }
                if (!pvGetPainted(hWnd)) handler.Check(pvInvalidateButton(hWnd));
            }
            break;
        case WM_SETFOCUS:
        case WM_ENABLE:
            if (redrawLocked) {
                // Switched back on even if the theme went away meanwhile, or
                // the button would never be drawn again.
                SendMessageA(hWnd, WM_SETREDRAW, TRUE, 0);
                if (pvIsThemed()) {
                    if (uMsg == WM_ENABLE)
                        InvalidateRect(hWnd, nullptr, FALSE);
                    else
                        handler.Check(pvInvalidateButton(hWnd));
                }
            }
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            handler.Check(pvInvalidateButton(hWnd));
            break;
        case WM_NCDESTROY:
            // The registration's reference to its control goes with it.
            if (dwRefData) reinterpret_cast<IDispatch*>(dwRefData)->Release();
            break;
        default:
            break;
    }
    return result;
}

HRESULT pvInvalidateButton(HWND hWnd) {
    HRESULT failure = S_OK;  // the first entry point that could not be called
    RECT rc{};
    GetClientRect(hWnd, &rc);
    ValidateRect(hWnd, nullptr);
    ThemeApi& api = Api();
    UniqueTheme theme(api.OpenThemeData.Call(&failure, hWnd, L"BUTTON"));
    HRGN shape = nullptr;
    api.GetThemeBackgroundRegion.Call(&failure, theme.get(), nullptr, kPushButton, kNormal, &rc, &shape);
    const UniqueRegion region(shape);
    api.CloseThemeData.Call(&failure, theme.release());
    // Without a region the whole client area is due.
    InvalidateRgn(hWnd, region.get(), FALSE);
    return failure;
}

bool pvGetHot(HWND hWnd) { return GetPropA(hWnd, kHotProperty) != nullptr; }
void pvSetHot(HWND hWnd, bool bHot) { SetPropA(hWnd, kHotProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(bHot ? 1 : 0))); }
bool pvGetPainted(HWND hWnd) { return GetPropA(hWnd, kPaintedProperty) != nullptr; }
void pvSetPainted(HWND hWnd, bool bPainted) {
    SetPropA(hWnd, kPaintedProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(bPainted ? 1 : 0)));
}
bool pvIsVisible(HWND hWnd) { return IsWindowVisible(hWnd) != FALSE; }

}  // namespace quillon::theme
