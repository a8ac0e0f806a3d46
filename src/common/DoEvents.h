#pragma once

namespace quillon {

// Lets the window system dispatch every message waiting for this thread,
// then returns. Keyboard messages go through the dialog manager first so
// that Tab moves the focus in the program's window.
void DoEvents();

// How many yields ran and how many messages they handed on, since the
// process started (for the benchmark).
struct YieldCount {
    unsigned long long yields = 0, messages = 0;
};
YieldCount Yields();

}  // namespace quillon
