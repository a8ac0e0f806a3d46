#pragma once
// Shared pieces of the visual-style tests: a clean entry-point table and
// error log per test, real windows, memory canvases and small pictures.
#include <windows.h>
#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <string>
#include <vector>

#include "common/ComPtr.h"
#include "support/TestSupport.h"
#include "theme/ThemeInternals.h"
#include "controls/Control.h"
#include "controls/Picture.h"

namespace quillon::test {

// Every test starts and ends with the real, unbound entry points and its own
// record of error reports.
class ThemeTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Names of the routines that reported, in order.
    std::vector<std::wstring> reports;
    int ReportsFrom(const std::wstring& routine) const;
};

// DllGetVersion reporting a chosen major version, counting its calls.
struct FakeVersion {
    static inline DWORD major = 6;
    static inline int calls = 0;
    static HRESULT CALLBACK Get(DLLVERSIONINFO* info);
    // Puts it into the table with that version.
    static void Use(DWORD majorVersion);
};

// A 32-bit colour memory canvas filled with one colour.
class Canvas {
public:
    Canvas(int width, int height, COLORREF fill);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;
    HDC dc() const { return dc_; }
    COLORREF Pixel(int x, int y) const;
    void Fill(COLORREF colour);
    int width() const { return width_; }
    int height() const { return height_; }
    // Every pixel of the rectangle has the colour.
    bool AllOf(const RECT& rc, COLORREF colour) const;
    bool AnyDifference(const Canvas& other) const;

private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
    DWORD* bits_ = nullptr;
};

// A bitmap of one colour, with an optional inner square of another.
HBITMAP SolidBitmap(int width, int height, COLORREF colour);
HBITMAP TwoToneBitmap(int width, int height, COLORREF outer, COLORREF inner, int innerSize);
// An icon of one colour whose left half is transparent.
HICON HalfTransparentIcon(int size, COLORREF colour);

// A picture object that holds no image (handle 0).
ComPtr<IPictureDisp> EmptyPicture();

// A visible top-level window whose background is kHostColour, for the
// controls under test. The window itself is made once and shared (Wine
// takes seconds to take a top-level window off the screen); the controls
// made through it are destroyed with it.
inline constexpr COLORREF kHostColour = RGB(0, 128, 128);
class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    HWND hwnd() const { return hwnd_; }
    HWND AddButton(const wchar_t* text, DWORD style, int x, int y, int width, int height);
    HWND AddEdit(int x, int y, int width, int height);
    // Lets the window system deliver what is waiting.
    static void Pump();

private:
    HWND hwnd_;
    std::vector<HWND> children_;
};

}  // namespace quillon::test
