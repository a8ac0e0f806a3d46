#include "e2e/Screenshot.h"

#include <vector>

#include "support/TestSupport.h"

namespace quillon::test {

bool SaveWindowShot(HWND window, const std::string& name, HWND also) {
    const std::string dir = Env("QUILLON_SCREENSHOTS");
    if (dir.empty()) return false;
    CreateDirectoryW(WinePath(dir).c_str(), nullptr);
    RECT r{}, other{};
    GetWindowRect(window, &r);
    if (also && GetWindowRect(also, &other)) UnionRect(&r, &r, &other);
    // A margin shows what lies around the window, too.
    InflateRect(&r, 8, 8);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = static_cast<DWORD>((w * 3 + 3) & ~3);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + stride * static_cast<DWORD>(h);
    std::string out(reinterpret_cast<const char*>(&fh), sizeof fh);
    out.append(reinterpret_cast<const char*>(&bi.bmiHeader), sizeof bi.bmiHeader);
    out.append(static_cast<const char*>(bits), stride * static_cast<DWORD>(h));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    WriteBytes(WinePath(dir + "/" + name + ".bmp"), out);
    return true;
}

}  // namespace quillon::test
