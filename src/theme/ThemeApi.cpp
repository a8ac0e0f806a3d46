#include "theme/ThemeApi.h"

namespace quillon::theme {

void ThemeApi::UnbindAll() {
#define QUILLON_THEME_UNBIND(library, name) name.Unbind();
    QUILLON_THEME_ENTRY_POINTS(QUILLON_THEME_UNBIND)
#undef QUILLON_THEME_UNBIND
}

ThemeApi& Api() {
    static ThemeApi api;
    return api;
}

}  // namespace quillon::theme
