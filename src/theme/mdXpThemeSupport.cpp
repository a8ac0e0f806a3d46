// Theme detection, the common-controls start-up, the error sink and the
// redirection of frames and graphical buttons to themed drawing.
#include "theme/mdXpThemeSupport.h"

#include <cmath>
#include <climits>
#include <cstdio>

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
    HRESULT failure = S_OK;
    if (auto getVersion = Api().DllGetVersion.Bind(&failure))
        getVersion(&info);  // the status is not needed: an unfilled record says 0
    else
        handler.Fail(failure);
    return static_cast<LONG>(info.dwMajorVersion) >= 6;
}

bool pvIsThemed() {
    ThemeApi& api = Api();
    auto isAppThemed = api.IsAppThemed.Bind();
    if (!isAppThemed || !isAppThemed()) return false;
    auto isThemeActive = api.IsThemeActive.Bind();
    if (!isThemeActive || !isThemeActive()) return false;
    auto properties = api.GetThemeAppProperties.Bind();
    return properties && (properties() & kAllowControls) != 0;
}

// --- redirection ---------------------------------------------------------------

bool FixThemeSupport(const std::vector<ui::Control*>& controls) {
    std::vector<ThemeControl> items;
    items.reserve(controls.size());
    for (ui::Control* c : controls)
        if (c) items.push_back({c->Kind(), static_cast<IDispatch*>(c)});
    return FixThemeSupport(items);
}

bool FixThemeSupport(const std::vector<ThemeControl>& controls) {
    if (!IsComCtl6Loaded()) return false;
    const Handler handler(L"FixThemeSupport");
    for (const ThemeControl& control : controls) {
        SUBCLASSPROC procedure = nullptr;
        DWORD_PTR refData = 0;
        if (control.kind == ui::ControlKind::Frame) {
            procedure = pvRedirectFrame;
        } else if (control.kind == ui::ControlKind::CommandButton || control.kind == ui::ControlKind::OptionButton ||
                   control.kind == ui::ControlKind::CheckBox) {
            LONG style = 0;
            // An unreadable style counts as graphical.
            if (handler.Check(ReadInt32(control.object, L"Style", style)) && style != 1) continue;
            procedure = pvRedirectButton;
            refData = reinterpret_cast<DWORD_PTR>(control.object);
        } else {
            continue;
        }
        HWND hwnd = nullptr;
        if (!handler.Check(ReadWindow(control.object, L"hWnd", hwnd))) continue;
        HRESULT failure = S_OK;
        if (auto subclass = Api().SetWindowSubclass.Bind(&failure))
            subclass(hwnd, procedure, 0, refData);
        else
            handler.Fail(failure);
    }
    return true;
}

namespace {

// Passes a message on along the subclass chain; 0 when that cannot be done.
LRESULT PassOn(const Handler& handler, HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    HRESULT failure = S_OK;
    if (auto next = Api().DefSubclassProc.Bind(&failure)) return next(hWnd, uMsg, wParam, lParam);
    handler.Fail(failure);
    return 0;
}

void Unsubclass(const Handler& handler, HWND hWnd, SUBCLASSPROC procedure, UINT_PTR id) {
    HRESULT failure = S_OK;
    if (auto remove = Api().RemoveWindowSubclass.Bind(&failure))
        remove(hWnd, procedure, id);
    else
        handler.Fail(failure);
}

}  // namespace

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
            Unsubclass(handler, hWnd, pvRedirectFrame, uIdSubclass);
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
                // Held for the paint only: the registration does not own the
                // control, which may be gone by the time its window is.
                const ComPtr<IDispatch> control = ComPtr<IDispatch>::Share(reinterpret_cast<IDispatch*>(dwRefData));
                PAINTSTRUCT ps{};
                HDC hdc = BeginPaint(hWnd, &ps);
                pvDrawButton(hWnd, hdc, control.get());
                EndPaint(hWnd, &ps);
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
            Unsubclass(handler, hWnd, pvRedirectButton, uIdSubclass);
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
        default:
            break;
    }
    return result;
}

HRESULT pvInvalidateButton(HWND hWnd) {
    HRESULT failure = S_OK;
    RECT rc{};
    GetClientRect(hWnd, &rc);
    ValidateRect(hWnd, nullptr);
    ThemeApi& api = Api();
    HRGN region = nullptr;
    HTHEME theme = nullptr;
    HRESULT missing = S_OK;
    if (auto open = api.OpenThemeData.Bind(&missing))
        theme = open(hWnd, L"BUTTON");
    else
        failure = missing;
    if (auto getRegion = api.GetThemeBackgroundRegion.Bind(&missing))
        getRegion(theme, nullptr, kPushButton, kNormal, &rc, &region);
    else if (SUCCEEDED(failure))
        failure = missing;
    if (auto close = api.CloseThemeData.Bind(&missing))
        close(theme);
    else if (SUCCEEDED(failure))
        failure = missing;
    // Without a region the whole client area is due.
    InvalidateRgn(hWnd, region, FALSE);
    if (region) DeleteObject(region);
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
