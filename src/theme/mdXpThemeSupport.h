#pragma once
// The visual-style layer: when version 6 of the common controls is in use,
// frames and graphical buttons are redirected at load and drawn with the
// visual theme; otherwise nothing changes and controls draw the plain way.
#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "common/ComPtr.h"

namespace quillon::controls {
class Control;
}

namespace quillon::theme {

// --- detection and start-up --------------------------------------------------

// Once per process, before the main window is made.
void InitThemeSupport();

// True when the common controls in use are version 6 or later; asked anew
// at each call.
bool IsComCtl6Loaded();

// True when visual styles apply to this application's controls now.
bool pvIsThemed();

// Writes one debug-trace line with the routine's name and the failure's
// description; nothing else.
void pvReportError(const std::wstring& sRoutine, HRESULT failure);

// --- drawing toolkit -----------------------------------------------------------

void pvDrawRect(HDC hDC, int x, int y, int width, int height, COLORREF colour);
// A source width or height of 0 means the destination's.
void pvDrawTransparentPicture(IPictureDisp* picture, HDC hDC, int x, int y, int width, int height,
                              COLORREF transparent, int srcX, int srcY, int srcWidth, int srcHeight);
void pvDrawDisabledPicture(IPictureDisp* picture, HDC hDC, int x, int y, int width, int height, COLORREF mask);
// The first picture if it holds an image, else the second, whatever it holds.
HRESULT pvPictureOrFallback(IPictureDisp* first, IPictureDisp* second, ComPtr<IPictureDisp>& result);
// RGB as it is, or a system colour (bit 31 set, index in the low byte) looked up.
COLORREF pvTranslateColor(DWORD colour);
// HIMETRIC to screen pixels, at the screen's or at a given twips per pixel.
HRESULT pvHimetricToPixels(double value, int& pixels);
HRESULT pvHimetricToPixels(double value, double twipsPerPixel, int& pixels);

// --- button painting -------------------------------------------------------------

// Paints the whole client area of a graphical button into hDC.
void pvDrawButton(HWND hWnd, HDC hDC, IDispatch* control);

// --- redirection -------------------------------------------------------------------

// Hands a form's frames and graphical buttons to the layer; the result is
// true after the walk, false when version 6 is not in use. A button's
// registration holds a reference to its control object until the button's
// window is destroyed.
bool FixThemeSupport(const std::vector<controls::Control*>& controls);

LRESULT CALLBACK pvRedirectFrame(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                 DWORD_PTR dwRefData);
LRESULT CALLBACK pvRedirectButton(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                  DWORD_PTR dwRefData);

// Drops the pending update and invalidates the button's themed shape only.
HRESULT pvInvalidateButton(HWND hWnd);

bool pvGetHot(HWND hWnd);
void pvSetHot(HWND hWnd, bool bHot);
bool pvGetPainted(HWND hWnd);
void pvSetPainted(HWND hWnd, bool bPainted);
bool pvIsVisible(HWND hWnd);

}  // namespace quillon::theme
