// Paints a graphical button in the look of the current visual theme: the
// theme's push button in the state the button is in, its caption and its
// picture.
#include <ocidl.h>
#include <olectl.h>

#include "common/GdiHandles.h"
#include "theme/ControlProperties.h"
#include "theme/ThemeInternals.h"

namespace quillon::theme {
namespace {

struct Look {
    int state = kNormal;
    ComPtr<IPictureDisp> picture;
};

// The look of step two: the first condition that holds decides.
Look ChooseLook(const Handler& handler, IDispatch* control, bool value, bool hot, bool pushed, bool focused,
                bool isDefault) {
    Look look;
    bool enabled = false;
    // An unreadable "Enabled" gives the disabled look.
    if (!handler.Check(ReadTruth(control, L"Enabled", enabled))) enabled = false;

    const wchar_t* first = nullptr;  // the preferred picture, or none
    if (!enabled) {
        look.state = kDisabled;
        first = L"DisabledPicture";
    } else if (hot && !pushed) {
        look.state = kHot;
        if (value) first = L"DownPicture";
    } else if (value || pushed) {
        look.state = kPressed;
        first = L"DownPicture";
    } else if (focused || isDefault) {
        look.state = kDefaulted;
    } else {
        look.state = kNormal;
    }

    // A failed choice leaves no picture.
    ComPtr<IPictureDisp> preferred, picture;
    if (first && !handler.Check(ReadPicture(control, first, preferred))) return look;
    if (!handler.Check(ReadPicture(control, L"Picture", picture))) return look;
    if (first) {
        ComPtr<IPictureDisp> chosen;
        if (handler.Check(pvPictureOrFallback(preferred.get(), picture.get(), chosen))) look.picture = chosen;
    } else {
        look.picture = picture;
    }
    return look;
}

// The default look is taken away when another control with a "Default"
// property has the focus. Failures here only leave the flag as it is.
bool ReadDefault(HWND hWnd, IDispatch* control) {
    bool isDefault = false;
    if (FAILED(ReadTruth(control, L"Default", isDefault))) isDefault = false;
    if (GetFocus() != hWnd) {
        ComPtr<IDispatch> form, active;
        LONG activeDefault = 0;
        if (SUCCEEDED(ReadObject(control, L"Parent", form)) && form &&
            SUCCEEDED(ReadObject(form.get(), L"ActiveControl", active)) && active &&
            SUCCEEDED(ReadInt32(active.get(), L"Default", activeDefault)) && activeDefault <= 0)
            isDefault = false;
    }
    return isDefault;
}

HFONT CaptionFont(const Handler& handler, IDispatch* control) {
    ComPtr<IDispatch> object;
    if (!handler.Check(ReadObject(control, L"Font", object))) return nullptr;
    ComPtr<IFont> font;
    if (!handler.Check(object ? object->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.put()))
                              : E_POINTER))
        return nullptr;
    HFONT handle = nullptr;
    if (!handler.Check(font->get_hFont(&handle))) return nullptr;
    return handle;
}

// round(span / 2 + offset), where span = high - low - size.
HRESULT Centre(int low, int high, int size, int& result) {
    int span = 0;
    HRESULT hr = CheckedSub(high, low, span);
    if (SUCCEEDED(hr)) hr = CheckedSub(span, size, span);
    if (SUCCEEDED(hr)) hr = RoundHalfEven(span / 2.0 + low, result);
    return hr;
}

}  // namespace

void pvDrawButton(HWND hWnd, HDC hDC, IDispatch* control) {
    const Handler handler(L"pvDrawButton");
    ThemeApi& api = Api();

    // The flags.
    const LRESULT stateWord = SendMessageA(hWnd, BM_GETSTATE, 0, 0);
    bool value = false;
    if (!handler.Check(ReadTruth(control, L"Value", value))) value = false;
    const bool hot = pvGetHot(hWnd);
    const bool pushed = (stateWord & BST_PUSHED) != 0;
    const bool focused = (stateWord & BST_FOCUS) != 0;
    const bool isDefault = ReadDefault(hWnd, control);

    // The theme state and the picture.
    Look look = ChooseLook(handler, control, value, hot, pushed, focused, isDefault);
    const int state = look.state;
    ComPtr<IPictureDisp> picture;
    if (look.picture) {
        OLE_HANDLE image = 0;
        if (handler.Check(pvPictureHandle(look.picture.get(), image)) && image != 0) picture = look.picture;
    }

    // The parent's background around the button face, then the face.
    RECT rc{};
    GetClientRect(hWnd, &rc);
    UniqueTheme theme(handler.Call(api.OpenThemeData, hWnd, L"BUTTON"));
    {
        HRGN faceRegion = nullptr;
        handler.Call(api.GetThemeBackgroundRegion, theme.get(), hDC, kPushButton, state, &rc, &faceRegion);
        const UniqueRegion face(faceRegion);
        ExtSelectClipRgn(hDC, face.get(), RGN_DIFF);
        // One that cannot be called fails like one that was.
        if (handler.Call(api.DrawThemeParentBackground, hWnd, hDC, &rc) != S_OK) {
            LONG backColor = 0;
            if (handler.Check(ReadInt32(control, L"BackColor", backColor)))
                pvDrawRect(hDC, 0, 0, rc.right, rc.bottom, pvTranslateColor(static_cast<DWORD>(backColor)));
        }
        ExtSelectClipRgn(hDC, nullptr, RGN_COPY);
    }
    handler.Call(api.DrawThemeBackground, theme.get(), hDC, kPushButton, state, &rc, &rc);

    // Content and focus.
    const RECT bounds = rc;
    handler.Call(api.GetThemeBackgroundContentRect, theme.get(), hDC, kPushButton, state, &bounds, &rc);
    if (focused) DrawFocusRect(hDC, &rc);

    // The caption.
    std::wstring caption;
    const bool captionRead = handler.Check(ReadText(control, L"Caption", caption));
    if (!captionRead || !caption.empty()) {
        Selection font(hDC, CaptionFont(handler, control));
        RECT text = rc;
        // Measured as it is drawn below: the same wide text.
        if (captionRead) DrawTextW(hDC, caption.c_str(), -1, &text, DT_CALCRECT | DT_WORDBREAK);
        // The measured bottom: the content's top plus the caption's height.
        const int m = text.bottom;
        text.left = rc.left;
        text.right = rc.right;
        if (!picture) {
            int span = 0, top = 0, bottom = 0;
            if (handler.Check(CheckedSub(rc.bottom, m, span)) && handler.Check(RoundHalfEven(span / 2.0 + 2, top)))
                text.top = top;
            if (handler.Check(CheckedAdd(text.top, m, bottom))) text.bottom = bottom;
        } else {
            int top = 0;
            if (handler.Check(CheckedSub(rc.bottom, m, top)) && handler.Check(CheckedAdd(top, 1, top))) text.top = top;
            text.bottom = rc.bottom;
        }
        if (captionRead)
            handler.Call(api.DrawThemeText, theme.get(), hDC, kPushButton, state, caption.c_str(), -1,
                         DT_CENTER | DT_WORDBREAK, 0, &text);
        font.Restore();
        // The picture's area ends where the caption begins.
        rc.bottom = text.top;
    }

    handler.Close(theme);

    // The picture, centred in what is left of the content.
    if (!picture) return;
    ComPtr<IPicture> image;
    handler.Check(picture->QueryInterface(IID_IPicture, reinterpret_cast<void**>(image.put())));
    OLE_XSIZE_HIMETRIC himetricWidth = 0;
    OLE_YSIZE_HIMETRIC himetricHeight = 0;
    int w = 0, h = 0;
    if (image && handler.Check(image->get_Width(&himetricWidth))) handler.Check(pvHimetricToPixels(himetricWidth, w));
    if (image && handler.Check(image->get_Height(&himetricHeight)))
        handler.Check(pvHimetricToPixels(himetricHeight, h));
    int x = 0, y = 0;
    handler.Check(Centre(rc.left, rc.right, w, x));
    handler.Check(Centre(rc.top, rc.bottom, h, y));

    // Unreadable truth values take the first branch here.
    bool enabled = true;
    if (!handler.Check(ReadTruth(control, L"Enabled", enabled))) enabled = true;
    LONG mask = 0;
    if (enabled) {
        bool useMask = true;
        if (!handler.Check(ReadTruth(control, L"UseMaskColor", useMask))) useMask = true;
        if (useMask) {
            if (handler.Check(ReadInt32(control, L"MaskColor", mask)))
                pvDrawTransparentPicture(picture.get(), hDC, x, y, w, h, pvTranslateColor(static_cast<DWORD>(mask)), 0,
                                         0, 0, 0);
        } else {
            // Given by its lower-left corner, as HIMETRIC runs upwards.
            int bottom = 0, up = 0;
            if (image && handler.Check(CheckedAdd(y, h, bottom)) && handler.Check(CheckedSub(0, h, up)))
                handler.Check(image->Render(hDC, x, bottom, w, up, 0, 0, himetricWidth, himetricHeight, nullptr));
        }
    } else if (handler.Check(ReadInt32(control, L"MaskColor", mask))) {
        pvDrawDisabledPicture(picture.get(), hDC, x, y, w, h, pvTranslateColor(static_cast<DWORD>(mask)));
    }
}

}  // namespace quillon::theme
