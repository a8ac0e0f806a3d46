#include "app/mdStartup.h"

#include <windows.h>
#include <ole2.h>

#include "common/DoEvents.h"
#include "theme/mdXpThemeSupport.h"
#include "ui/FrmMain.h"

namespace quillon::app {
namespace {

// Looked up by name: older systems lack it, and a 64-bit process always
// has data-execution prevention, so a refusal is expected there.
void EnableDep() {
    using SetDepFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDep = kernel ? reinterpret_cast<SetDepFn>(
                               reinterpret_cast<void*>(GetProcAddress(kernel, "SetProcessDEPPolicy")))
                         : nullptr;
    if (setDep) setDep(PROCESS_DEP_ENABLE);
}

}  // namespace

int Main(const std::wstring& argumentText) {
    EnableDep();
    DoEvents();
    theme::InitThemeSupport();
    OleInitialize(nullptr);

    static ui::FrmMain window(argumentText);  // lives until the process ends
    window.Show();

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.hWnd() && IsDialogMessageW(window.hWnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace quillon::app
