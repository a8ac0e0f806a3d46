#include "ThemeTestSupport.h"

#include <ole2.h>
#include <olectl.h>

namespace quillon::test {

void ThemeTest::SetUp() {
    static const HRESULT ole = OleInitialize(nullptr);
    (void)ole;
    theme::Api().UnbindAll();
    theme::SetErrorObserver([this](const std::wstring& routine, HRESULT) { reports.push_back(routine); });
    FakeVersion::calls = 0;
}

void ThemeTest::TearDown() {
    theme::SetErrorObserver({});
    theme::Api().UnbindAll();
}

int ThemeTest::ReportsFrom(const std::wstring& routine) const {
    int n = 0;
    for (const std::wstring& r : reports) n += r == routine;
    return n;
}

HRESULT CALLBACK FakeVersion::Get(DLLVERSIONINFO* info) {
    ++calls;
    if (!info || info->cbSize != sizeof *info) return E_INVALIDARG;
    info->dwMajorVersion = major;
    info->dwMinorVersion = 0;
    return S_OK;
}

void FakeVersion::Use(DWORD majorVersion) {
    major = majorVersion;
    theme::Api().DllGetVersion.Replace(&FakeVersion::Get);
}

Canvas::Canvas(int width, int height, COLORREF fill) : width_(width), height_(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<DWORD*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
    Fill(fill);
}

Canvas::~Canvas() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

COLORREF Canvas::Pixel(int x, int y) const {
    GdiFlush();
    const DWORD p = bits_[static_cast<size_t>(y) * width_ + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

void Canvas::Fill(COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    RECT rc{0, 0, width_, height_};
    FillRect(dc_, &rc, brush);
    DeleteObject(brush);
    GdiFlush();
}

bool Canvas::AllOf(const RECT& rc, COLORREF colour) const {
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.left; x < rc.right; ++x)
            if (Pixel(x, y) != colour) return false;
    return true;
}

bool Canvas::AnyDifference(const Canvas& other) const {
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (Pixel(x, y) != other.Pixel(x, y)) return true;
    return false;
}

HBITMAP TwoToneBitmap(int width, int height, COLORREF outer, COLORREF inner, int innerSize) {
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HDC dc = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH a = CreateSolidBrush(outer);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, a);
    DeleteObject(a);
    if (innerSize > 0) {
        HBRUSH b = CreateSolidBrush(inner);
        const int left = (width - innerSize) / 2, top = (height - innerSize) / 2;
        RECT in{left, top, left + innerSize, top + innerSize};
        FillRect(dc, &in, b);
        DeleteObject(b);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return bitmap;
}

HBITMAP SolidBitmap(int width, int height, COLORREF colour) { return TwoToneBitmap(width, height, colour, colour, 0); }

HICON HalfTransparentIcon(int size, COLORREF colour) {
    HBITMAP colourBits = SolidBitmap(size, size, colour);
    // Mask: 1 where the icon is transparent (left half), 0 where it shows;
    // the colour there is black so the screen shows through unchanged.
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, mask);
    PatBlt(dc, 0, 0, size, size, BLACKNESS);
    PatBlt(dc, 0, 0, size / 2, size, WHITENESS);
    SelectObject(dc, colourBits);
    PatBlt(dc, 0, 0, size / 2, size, BLACKNESS);
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = colourBits;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colourBits);
    return icon;
}

ComPtr<IPictureDisp> EmptyPicture() {
    ComPtr<IPictureDisp> picture;
    OleCreatePictureIndirect(nullptr, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture.put()));
    return picture;
}

namespace {

const wchar_t* HostClass() {
    static const wchar_t* name = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hbrBackground = CreateSolidBrush(kHostColour);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.lpszClassName = L"QuillonThemeTestHost";
        RegisterClassW(&wc);
        return L"QuillonThemeTestHost";
    }();
    return name;
}

}  // namespace

HostWindow::HostWindow() {
    static const HWND shared = CreateWindowExW(WS_EX_TOPMOST, HostClass(), L"host", WS_POPUP | WS_VISIBLE, 200, 200,
                                               400, 300, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    hwnd_ = shared;
    Pump();
}

HostWindow::~HostWindow() {
    for (HWND child : children_) DestroyWindow(child);
    Pump();
}

HWND HostWindow::AddButton(const wchar_t* text, DWORD style, int x, int y, int width, int height) {
    HWND child = CreateWindowExW(0, L"BUTTON", text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | style, x, y, width, height,
                                 hwnd_, nullptr, GetModuleHandleW(nullptr), nullptr);
    children_.push_back(child);
    return child;
}

HWND HostWindow::AddEdit(int x, int y, int width, int height) {
    HWND child = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | WS_TABSTOP, x, y, width, height, hwnd_,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
    children_.push_back(child);
    return child;
}

void HostWindow::Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace quillon::test
