#include "theme/mdXpThemeSupport.h"

namespace quillon::theme {

// Filled in with the themed drawing; until then the plain drawing stays.
void InitThemeSupport() {}

bool FixThemeSupport(const std::vector<ui::Control*>&) { return false; }

}  // namespace quillon::theme
