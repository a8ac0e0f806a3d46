#pragma once
// Owning wrappers for the drawing objects the layer makes for one call;
// declared in the order of acquisition, they are released in reverse.
#include <windows.h>

#include "common/Handle.h"

namespace quillon::theme {

template <class H>
struct GdiObjectTraits {
    using type = H;
    static constexpr type empty() { return nullptr; }
    static void close(type h) { DeleteObject(h); }
};
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;
using UniqueRegion = UniqueHandle<GdiObjectTraits<HRGN>>;

struct MemoryDcTraits {
    using type = HDC;
    static constexpr type empty() { return nullptr; }
    static void close(type h) { DeleteDC(h); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// GetDC of the whole screen, with its ReleaseDC.
class ScreenDc {
public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ~ScreenDc() {
        if (dc_) ReleaseDC(nullptr, dc_);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC get() const { return dc_; }

private:
    HDC dc_;
};

// An object selected into a context, and the one it displaced put back.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
    ~Selection() { Restore(); }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    void Restore() {
        if (dc_ && previous_) SelectObject(dc_, previous_);
        previous_ = nullptr;
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace quillon::theme
