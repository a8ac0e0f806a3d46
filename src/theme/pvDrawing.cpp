// The drawing toolkit of the themed painter: plain fills, pictures with a
// transparent colour and pictures in the embossed disabled look.
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>

#include "common/GdiHandles.h"
#include "common/OleHandles.h"
#include "theme/ThemeInternals.h"

namespace quillon::theme {
namespace {

LPARAM ImageParam(OLE_HANDLE image) { return reinterpret_cast<LPARAM>(FromOleHandle<HANDLE>(image)); }

HRESULT ReadPictureMember(IPictureDisp* picture, DISPID id, VARTYPE type, Variant& value) {
    Variant raw;
    DISPPARAMS none{};
    HRESULT hr = picture->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, raw.get(), nullptr,
                                 nullptr);
    if (SUCCEEDED(hr)) hr = ole::ChangeType(value.get(), raw.get(), 0, type);
    return hr;
}

}  // namespace

HRESULT pvPictureHandle(IPictureDisp* picture, OLE_HANDLE& handle) {
    if (!picture) return E_POINTER;
    Variant v;
    const HRESULT hr = ReadPictureMember(picture, DISPID_PICT_HANDLE, VT_I4, v);
    if (SUCCEEDED(hr)) handle = static_cast<OLE_HANDLE>(v->lVal);
    return hr;
}

HRESULT pvPictureType(IPictureDisp* picture, short& type) {
    if (!picture) return E_POINTER;
    Variant v;
    const HRESULT hr = ReadPictureMember(picture, DISPID_PICT_TYPE, VT_I2, v);
    if (SUCCEEDED(hr)) type = v->iVal;
    return hr;
}

void pvDrawRect(HDC hDC, int x, int y, int width, int height, COLORREF colour) {
    const Handler handler(L"pvDrawRect");
    const UniqueBrush brush(CreateSolidBrush(colour));
    RECT rc{x, y, 0, 0};
    int edge = 0;
    // An edge that overflows stays 0.
    if (handler.Check(CheckedAdd(x, width, edge))) rc.right = edge;
    if (handler.Check(CheckedAdd(y, height, edge))) rc.bottom = edge;
    FillRect(hDC, &rc, brush.get());
}

void pvDrawTransparentPicture(IPictureDisp* picture, HDC hDC, int x, int y, int width, int height,
                              COLORREF transparent, int srcX, int srcY, int srcWidth, int srcHeight) {
    const Handler handler(L"pvDrawTransparentPicture");
    if (!picture) return;
    OLE_HANDLE image = 0;
    if (!handler.Check(pvPictureHandle(picture, image)) || image == 0) return;
    if (srcWidth == 0) srcWidth = width;
    if (srcHeight == 0) srcHeight = height;

    const WindowDc screen;
    const UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), srcWidth, srcHeight));
    const Selection selected(memory.get(), bitmap.get());

    short type = PICTYPE_ICON;
    if (!handler.Check(pvPictureType(picture, type))) type = PICTYPE_ICON;
    if (type == PICTYPE_ICON) {
        // What the icon leaves transparent becomes the transparent colour.
        pvDrawRect(memory.get(), 0, 0, srcWidth, srcHeight, transparent);
        DrawStateA(memory.get(), nullptr, nullptr, ImageParam(image), 0, 0, 0, srcWidth, srcHeight, DST_ICON);
    } else if (type == PICTYPE_BITMAP) {
        DrawStateA(memory.get(), nullptr, nullptr, ImageParam(image), 0, 0, 0, srcWidth, srcHeight, DST_BITMAP);
    } else {
        // Other kinds of picture are not drawn: nothing of them shows.
        pvDrawRect(memory.get(), 0, 0, srcWidth, srcHeight, transparent);
    }

    handler.Call(Api().TransparentBlt, hDC, x, y, width, height, memory.get(), srcX, srcY, srcWidth, srcHeight,
                 transparent);
}

void pvDrawDisabledPicture(IPictureDisp* picture, HDC hDC, int x, int y, int width, int height, COLORREF mask) {
    const Handler handler(L"pvDrawDisabledPicture");
    if (!picture) return;
    OLE_HANDLE image = 0;
    if (!handler.Check(pvPictureHandle(picture, image)) || image == 0) return;

    const WindowDc screen;
    const UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
    const UniqueBitmap bitmap(CreateCompatibleBitmap(screen.get(), width, height));
    {
        const Selection selected(memory.get(), bitmap.get());
        pvDrawRect(memory.get(), 0, 0, width, height, RGB(255, 255, 255));
        pvDrawTransparentPicture(picture, memory.get(), 0, 0, width, height, mask, 0, 0, 0, 0);
    }  // selected out: the platform may not take a bitmap that a context holds
    DrawStateA(hDC, nullptr, nullptr, reinterpret_cast<LPARAM>(bitmap.get()), 0, x, y, width, height,
               DST_BITMAP | DSS_DISABLED);
}

HRESULT pvPictureOrFallback(IPictureDisp* first, IPictureDisp* second, ComPtr<IPictureDisp>& result) {
    if (first) {
        OLE_HANDLE image = 0;
        const HRESULT hr = pvPictureHandle(first, image);
        if (FAILED(hr)) return hr;
        if (image != 0) {
            result = ComPtr<IPictureDisp>::Share(first);
            return S_OK;
        }
    }
    result = ComPtr<IPictureDisp>::Share(second);
    return S_OK;
}

COLORREF pvTranslateColor(DWORD colour) {
    if (colour & 0x80000000u) return GetSysColor(static_cast<int>(colour & 0xFFu));
    return colour;
}

HRESULT pvHimetricToPixels(double value, int& pixels) {
    const WindowDc screen;
    const int perInch = GetDeviceCaps(screen.get(), LOGPIXELSX);
    if (perInch <= 0) return E_FAIL;
    return pvHimetricToPixels(value, 1440.0 / perInch, pixels);
}

HRESULT pvHimetricToPixels(double value, double twipsPerPixel, int& pixels) {
    return RoundHalfEven((1440.0 / twipsPerPixel) * (value / 2540.0), pixels);
}

}  // namespace quillon::theme
