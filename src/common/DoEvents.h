#pragma once

namespace quillon {

// Lets the window system dispatch every message waiting for this thread,
// then returns. Keyboard messages go through the dialog manager first so
// that Tab moves the focus in the program's window.
void DoEvents();

}  // namespace quillon
