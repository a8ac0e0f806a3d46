#pragma once
// The visual-style layer: redirects frames and graphical buttons to themed
// drawing when version 6 of the common controls is in use.
#include <vector>

namespace quillon::ui {
class Control;
}

namespace quillon::theme {

// Once per process, before the main window is made.
void InitThemeSupport();

// Hands a form's frames and graphical buttons to the layer; the result is
// true after the walk, false when version 6 is not in use.
bool FixThemeSupport(const std::vector<ui::Control*>& controls);

}  // namespace quillon::theme
