#include "app/mdStartup.h"

#include <windows.h>

#include "common/DoEvents.h"
#include "common/RunLimit.h"
#include "common/SystemLibrary.h"
#include "settings/Modini.h"
#include "theme/mdXpThemeSupport.h"
#include "ui/FrmMain.h"

namespace quillon::app {
namespace {

// The longest a silent run may take, whatever holds it: a scheduled task
// that never ends keeps the next one from starting. The request's own
// limits end it well before this, with room left for the write.
constexpr DWORD kSilentRunLimitMs = 60000;

// Looked up by name: older systems lack it, and a 64-bit process always
// has data-execution prevention, so a refusal is expected there.
void EnableDep() {
    using SetDepFn = BOOL(WINAPI*)(DWORD);
    if (auto setDep = ProcAddress<SetDepFn>(GetModuleHandleW(L"kernel32.dll"), "SetProcessDEPPolicy"))
        setDep(PROCESS_DEP_ENABLE);
}

// The limit's end: a run that has not done its work says why it ended
// before the process goes.
void EndOverdue(UINT exitCode) {
    if (exitCode != 0) {
        const std::wstring why = runlimit::DecidedWhy();
        settings::WriteLastError(static_cast<int>(exitCode),
                                 L"The run's time of " + std::to_wstring(kSilentRunLimitMs / 1000) + L" seconds was up." +
                                     (why.empty() ? L"" : L"\n" + why));
    }
    runlimit::EndProcess(exitCode);
}

}  // namespace

int Main(const std::wstring& argumentText) {
    // Before anything that can hang: the libraries, the theme, the window.
    if (ui::RunModeOf(argumentText) == ui::RunMode::Silent) runlimit::Start(kSilentRunLimitMs, 15000, EndOverdue);
    RestrictDllSearch();
    // System libraries load some of theirs later by bare name, and Wine's
    // delay-loads do so past the restricted search: the visual-style
    // libraries come from the system folder now, so that such a load finds
    // them loaded and never takes a copy beside the program.
    for (const wchar_t* name : {L"comctl32.dll", L"uxtheme.dll", L"msimg32.dll"}) LoadSystemLibrary(name);
    EnableDep();
    DoEvents();
    theme::InitThemeSupport();

    static ui::FrmMain window(argumentText);  // lives until the process ends
    window.MakeWindow();
    window.Show();
    // Show ends a run that has no window; never wait for one that is not there.
    if (!window.hWnd()) return 1;

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (window.hWnd() && IsDialogMessageW(window.hWnd(), &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace quillon::app
