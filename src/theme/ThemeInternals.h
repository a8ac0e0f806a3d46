#pragma once
// What the visual-style layer keeps to itself and its tests: the error
// handler, checked arithmetic, picture members and the walk over plain
// control records; the program itself uses only mdXpThemeSupport.h.
#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/ComPtr.h"
#include "theme/ThemeApi.h"
#include "theme/mdXpThemeSupport.h"
#include "controls/Control.h"

namespace quillon::theme {

// --- detection and the error sink -----------------------------------------

// Sees every report as well (tests); an empty function stops watching.
using ErrorObserver = std::function<void(const std::wstring& routine, HRESULT failure)>;
void SetErrorObserver(ErrorObserver observer);

// A routine's handler: reports a failure under the routine's name and
// lets the routine go on with its next step.
class Handler {
public:
    explicit Handler(const wchar_t* routine) : routine_(routine) {}
    void Fail(HRESULT failure) const { pvReportError(routine_, failure); }
    // True when hr succeeded; a failure is reported.
    bool Check(HRESULT hr) const {
        if (SUCCEEDED(hr)) return true;
        Fail(hr);
        return false;
    }
    // A call through the table, failing softly: when the entry point
    // cannot be bound, that is reported and the call gives 0, or the
    // failure where the result is an HRESULT.
    template <class Fn, class... Args>
    auto Call(EntryPoint<Fn>& entry, Args&&... args) const {
        HRESULT failure = S_OK;
        auto result = entry.Call(&failure, std::forward<Args>(args)...);
        if (FAILED(failure)) Fail(failure);
        return result;
    }
    // Closes a theme handle at the step that closes it, reporting a close
    // that cannot be made.
    void Close(UniqueTheme& theme) const { Call(Api().CloseThemeData, theme.release()); }

private:
    const wchar_t* routine_;
};

// The run-once flag of InitThemeSupport (tests clear it).
bool& ThemeSupportStarted();

// The failure of a sum, a difference or a conversion out of 32 bits.
inline constexpr HRESULT kOverflow = HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW);

// Signed 32-bit arithmetic with checked results.
HRESULT CheckedAdd(int a, int b, int& result);
HRESULT CheckedSub(int a, int b, int& result);
// Nearest integer, a half going to the even neighbour.
HRESULT RoundHalfEven(double value, int& result);

// --- drawing toolkit --------------------------------------------------------

// A picture's image handle (0: none) and kind, read by dispatch id.
HRESULT pvPictureHandle(IPictureDisp* picture, OLE_HANDLE& handle);
HRESULT pvPictureType(IPictureDisp* picture, short& type);

// --- button painting ---------------------------------------------------------

// Theme part and states of a push button.
inline constexpr int kPushButton = 1;
enum PushButtonState { kNormal = 1, kHot = 2, kPressed = 3, kDisabled = 4, kDefaulted = 5 };

// --- redirection -------------------------------------------------------------

// A control as the walk sees it: its kind and its object, read by name.
struct ThemeControl {
    controls::ControlKind kind;
    IDispatch* object;
};
bool FixThemeSupport(const std::vector<ThemeControl>& controls);

}  // namespace quillon::theme
