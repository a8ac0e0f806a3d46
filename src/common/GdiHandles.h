#pragma once
// GDI and USER objects: one owning alias per kind, and the pairs that must
// be undone together. Declared in the order of acquisition, they are
// released in reverse.
#include <windows.h>

#include "common/Handle.h"

namespace quillon {

using UniqueBitmap = UniqueAny<HBITMAP, &DeleteObject>;
using UniqueBrush = UniqueAny<HBRUSH, &DeleteObject>;
using UniqueRegion = UniqueAny<HRGN, &DeleteObject>;
using UniqueMemoryDc = UniqueAny<HDC, &DeleteDC>;  // from CreateCompatibleDC
using UniqueIcon = UniqueAny<HICON, &DestroyIcon>;

// GetDC and its ReleaseDC; no window means the whole screen.
class WindowDc {
public:
    explicit WindowDc(HWND window = nullptr) : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// BeginPaint and its EndPaint.
class PaintDc {
public:
    explicit PaintDc(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
    ~PaintDc() { EndPaint(window_, &paint_); }
    PaintDc(const PaintDc&) = delete;
    PaintDc& operator=(const PaintDc&) = delete;
    HDC get() const { return dc_; }

private:
    HWND window_;
    PAINTSTRUCT paint_{};
    HDC dc_;
};

// An object selected into a context, and the one it displaced put back;
// nothing is selected when there is no context or no object.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~Selection() { Restore(); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    // Puts the displaced object back now rather than at the end.
    void Restore() {
        if (dc_ && previous_) SelectObject(dc_, previous_);
        previous_ = nullptr;
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace quillon
