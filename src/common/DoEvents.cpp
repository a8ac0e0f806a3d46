#include "common/DoEvents.h"

#include <windows.h>

namespace quillon {
namespace {
YieldCount counted;
}  // namespace

YieldCount Yields() { return counted; }

void DoEvents() {
    ++counted.yields;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ++counted.messages;
        if (msg.message == WM_QUIT) {
            // Leave the quit for the main loop to see.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        HWND top = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
        if (top && IsDialogMessageW(top, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

}  // namespace quillon
