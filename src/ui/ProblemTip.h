#pragma once
// A failure the user can act on, shown as a balloon on the box it concerns
// from the moment the window is visible until the next success: no
// hovering needed, and the window's layout stays as it is.
#include <windows.h>
#include <commctrl.h>

#include <string>

namespace quillon::ui {

// The tooltip class lives in the common controls, bound at run time
// through the visual-style layer's table like the rest of that library.
void InitTooltipClass();

class ProblemTip {
public:
    ProblemTip() = default;
    ~ProblemTip();
    ProblemTip(const ProblemTip&) = delete;
    ProblemTip& operator=(const ProblemTip&) = delete;

    // What to say, under which control of which window; an empty text
    // takes the balloon away. The same as is set already changes nothing.
    // icon: TTI_WARNING for a failure, TTI_INFO for news.
    void Set(HWND owner, HWND control, const std::wstring& title, const std::wstring& text, int icon = TTI_WARNING);
    // Follows the window: shown while it is visible and active, at the box.
    void Update();
    // Put away by the user until the next problem is set.
    void Dismiss();

private:
    void Hide();

    HWND owner_ = nullptr, control_ = nullptr, tip_ = nullptr;
    std::wstring title_, text_;
    int icon_ = TTI_WARNING;
    bool shown_ = false;
    bool dismissed_ = false;
};

}  // namespace quillon::ui
