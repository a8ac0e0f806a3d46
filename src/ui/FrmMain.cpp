#include "ui/FrmMain.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cwchar>
#include <iterator>

#include "QuillonConfig.h"
#include "common/DoEvents.h"
#include "common/GdiHandles.h"
#include "common/ModulePath.h"
#include "common/RunLimit.h"
#include "common/SystemLibrary.h"
#include "resource.h"
#include "theme/mdXpThemeSupport.h"
#include "ui/FrmMainLayout.h"
#include "ui/OptionsMenu.h"
#include "ui/RunMode.h"

namespace quillon::ui {
namespace {

using controls::ControlKind;

constexpr wchar_t kClassName[] = L"FrmMain";
// How long a program about to end waits for a settings file that is busy.
constexpr DWORD kSettingsFlushMs = 2000;
// How long a program about to end waits for its request threads.
constexpr DWORD kRequestsEndMs = 1000;
constexpr DWORD kMinuteMs = 60000;
// After the machine wakes, the network needs a moment before a refresh.
constexpr DWORD kAfterWakeMs = 5000;

// The window class, registered at the first Create that finds it missing.
// Its icons are set on the window when it is first shown.
bool RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (GetClassInfoExW(instance, kClassName, &wc)) return wc.lpfnWndProc == procedure;
    wc.lpfnWndProc = procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
}

}  // namespace

std::wstring DefaultLogPath() { return ProgramFolder() + L"\\IP_log.txt"; }

FrmMain::FrmMain(std::wstring argumentText)
    : bSilent(RunModeOf(argumentText) == RunMode::Silent ? -1 : 0),
      onEnd([](int code) { ExitProcess(static_cast<UINT>(code)); }),
      argumentText_(std::move(argumentText)),
      cycle_(*this, QUILLON_ADDRESS_HOST) {
    detached_.text2 = DefaultLogPath();  // Text2's design text, as in the control
}

FrmMain::~FrmMain() {
    if (tooltip_) DestroyWindow(tooltip_);
    if (hwnd_) {
        // Not the close handler's way out: only tests take down a window.
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

HWND FrmMain::Item(const wchar_t* name) const {
    const controls::Control* c = form_ ? form_->Find(name) : nullptr;
    return c ? c->Handle() : nullptr;
}

void FrmMain::Show() {
    // Without a window a silent run still does its job; a normal start has
    // nothing to show and ends at once.
    if (!hwnd_ && !MakeWindow() && !Silent()) {
        End(net::RunEnd::NoWindow);
        return;
    }
    // A window to be shown is readied first: under Wine, a window made or
    // changed much after a second thread started costs more, and the load
    // step starts the first request thread.
    if (!Silent()) Prepare();
    // One family's address shows the window while the other's is awaited:
    // that may take the cycle's whole time (an IPv6 route that drops every
    // packet).
    showOnAddress_ = !Silent();
    Form_Load();
    showOnAddress_ = false;
    if (Silent() || !hwnd_) return;
    Prepare();  // done already, unless a silent start was asked and not had
    // A start in the notification area is there already, once an address
    // showed it; otherwise its first refresh's news is the icon's balloon.
    if (!IsWindowVisible(hwnd_) && !(tray_ && tray_->Wanted())) {
        ShowNow();
        TellTray();
    }
    problemTip_.Update();  // what the first fetch found wrong
}

void FrmMain::ShowNow() {
    // A start with Windows begins minimised, as a taskbar button.
    const bool minimized = RunModeOf(argumentText_) == RunMode::Minimized;
    ShowWindow(hwnd_, minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
    if (minimized) return;
    UpdateWindow(hwnd_);
    SetFocus(ctl_.text2);
}

bool FrmMain::Create() {
    if (!hwnd_ && !MakeWindow()) return false;
    Prepare();
    return true;
}

bool FrmMain::MakeWindow() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!RegisterWindowClass(instance, WndProc)) return false;

    // A fixed single border with the close box only.
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_BORDER | WS_CLIPCHILDREN;
    const int dpi = ScreenDpi();
    RECT frame{0, 0, TwipsToPixels(kClientWidth, dpi), TwipsToPixels(kClientHeight, dpi)};
    AdjustWindowRectEx(&frame, style, FALSE, WS_EX_CONTROLPARENT);
    const int w = frame.right - frame.left, h = frame.bottom - frame.top;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int x = work.left + (work.right - work.left - w) / 2, y = work.top + (work.bottom - work.top - h) / 2;
    const std::wstring title = std::wstring(L"Quillon By ") + QUILLON_MAKER_SITE;
    CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, title.c_str(), style, x, y, w, h, nullptr, nullptr, instance,
                    this);
    if (!hwnd_) return false;
    CreateControls();
    return true;
}

void FrmMain::CreateControls() {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const int dpi = ScreenDpi();
    form_ = controls::Form::Create(hwnd_);
    const std::wstring defaultLog = DefaultLogPath();
    HWND made[std::size(kControls)] = {};
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ControlSpec& s = kControls[i];
        made[i] = CreateWindowExW(s.exStyle, s.windowClass, s.id == IDC_TEXT2 ? defaultLog.c_str() : s.text,
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | s.style, TwipsToPixels(s.left, dpi),
                                  TwipsToPixels(s.top, dpi), TwipsToPixels(s.width, dpi), TwipsToPixels(s.height, dpi),
                                  hwnd_, reinterpret_cast<HMENU>(INT_PTR{s.id}), instance, nullptr);
    }
    // Labels lie beneath the other controls, so a label that reaches into
    // a text box never paints over its edge; among themselves a later label
    // lies over an earlier one.
    for (size_t i = std::size(kControls); i-- > 0;)
        if (kControls[i].kind == ControlKind::Label)
            SetWindowPos(made[i], HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const wchar_t* name : kCollectionOrder)
        for (size_t i = 0; i < std::size(kControls); ++i)
            if (std::wcscmp(kControls[i].name, name) == 0) form_->Add(kControls[i].kind, name, made[i]);
    ctl_ = {GetDlgItem(hwnd_, IDC_TEXT1),    GetDlgItem(hwnd_, IDC_TEXT2),  GetDlgItem(hwnd_, IDC_CHECK1),
            GetDlgItem(hwnd_, IDC_CHECK2),   GetDlgItem(hwnd_, IDC_COMMAND1), GetDlgItem(hwnd_, IDC_IMAGE2),
            GetDlgItem(hwnd_, IDC_LABEL4)};
    controls::Control& command1 = *form_->Find(L"Command1");
    command1.style = 1;  // graphical
    command1.caption = L"";
}

void FrmMain::Form_Load() {
    if (form_) theme::FixThemeSupport(form_->Controls());
    if (!Silent()) MarkCopyRunning();
    // A silent run that cannot read its settings cannot know where to log,
    // and logs nothing; a normal start says so and fetches nothing.
    if (!LoadSettings()) {
        if (Silent()) End(net::RunEnd::SettingsUnread);
        return;
    }
    if (serverRejected_ && Silent()) {
        End(net::RunEnd::SettingsRejected);
        return;
    }
    // One window of a copy that lives in the notification area.
    if (!Silent() && ShowRunningCopy()) {
        End(net::RunEnd::WindowClosed);
        return;
    }
    cycle_.Prepare();
    if (Silent()) ShowWindow(hwnd_, SW_HIDE);
    DoEvents();
    Command1_Click();
    DoEvents();
    // A silent start ends here whatever the refresh did: a scheduled task
    // never puts a window in front of the user.
    if (Silent()) End(net::RunEnd::Refreshed);
}

void FrmMain::Command1_Click() {
    // A tick or a click inside a refresh's yields is ignored: it would
    // clear what that refresh is about to say, and the icon's failure note.
    if (cycle_.Running()) return;
    if (settingsUnread_ && !LoadSettings()) return;
    if (serverRejected_) return;
    lastProblem_ = Problem::None;
    cycle_.Command1_Click();
}

// What the refresh found: the window's balloon and the icon's, from the one
// outcome; a silent run ends as it says.
void FrmMain::Refreshed(const net::Outcome& outcome) {
    GetLocalTime(&lastRefresh_);
    const net::Notice notice = net::NoticeOf(outcome);
    ShowProblem(notice.problem, notice.text);
    TellTray();
    if (Silent()) End(net::RunEnd::Refreshed);
}

// The icon's tip follows each refresh; while the window is hidden, a
// change or a failure is the icon's balloon, a failure once until a success.
void FrmMain::TellTray() {
    if (!tray_ || !tray_->Wanted() || !hwnd_) return;
    tray_->SetTip(TrayTip(AddressText(), &lastRefresh_));
    if (IsWindowVisible(hwnd_)) return;
    if (lastProblem_ == Problem::None || lastProblem_ == Problem::AddressChanged) {
        trayFailureSaid_ = false;
        if (lastProblem_ == Problem::AddressChanged) tray_->Balloon(ProblemTitle(lastProblem_), lastProblemText_, false);
    } else if (!trayFailureSaid_) {
        trayFailureSaid_ = tray_->Balloon(ProblemTitle(lastProblem_), lastProblemText_, true);
    }
}

// A window only: a silent run fetches once and ends. Set anew, the timer
// counts from now, so a refresh due is never doubled.
void FrmMain::ArmRefreshTimer() {
    if (!hwnd_ || Silent()) return;
    if (refreshMinutes_)
        SetTimer(hwnd_, kRefreshTimer, static_cast<UINT>(refreshMinutes_) * kMinuteMs, nullptr);
    else
        KillTimer(hwnd_, kRefreshTimer);
}

void FrmMain::End(net::RunEnd how) {
    // A time limit that comes meanwhile waits for the decision and ends the
    // run with the same code; held to the end, so that no write of the log
    // begins that the process's end would cut short.
    const runlimit::Writing ending;
    // Settings that a held file kept back get their last chance; a silent
    // run whose settings could not be saved says so.
    const bool saved = pending_.Flush(kSettingsFlushMs) && !pending_.Dropped();
    const net::Outcome* last = cycle_.Settled();
    const int exitCode = net::ExitCode(how, last, saved);
    std::wstring why = net::EndWords(how, last, saved);
    if (how == net::RunEnd::SettingsUnread) why += L"\n" + settingsText_;
    if (how == net::RunEnd::SettingsRejected) why += L"\n" + rejectedText_;
    runlimit::Decide(static_cast<UINT>(exitCode), why);
    // Task Scheduler shows the code alone: the reason is left beside the
    // settings.
    if (Silent() && exitCode != 0) settings::WriteLastError(exitCode, why);
    // Actions still under way are ended, the command with what it started.
    cycle_.EndActions(kRequestsEndMs);
    // Every request still under way is closed, and its thread given about a
    // second to end; one that WinInet keeps in a call (Wine ends no call
    // whose handle closes) is ended with the process.
    cycle_.Shutdown(kRequestsEndMs);
    runlimit::Stop();
    if (tray_) tray_->Hide();  // the process ends without destructors
    if (onEnd) onEnd(exitCode);
}

void FrmMain::ShowProblem(Problem problem, const std::wstring& text) {
    if (!hwnd_ || Silent()) return;  // a silent run says it by its exit code
    lastProblem_ = problem;
    lastProblemText_ = text;
    switch (problem) {
        case Problem::NoAddress:
        case Problem::NoIpv4Address:
        case Problem::NoIpv6Address:
        case Problem::ActionFailed:
            problemTip_.Set(hwnd_, ctl_.text1, ProblemTitle(problem), text);
            break;
        case Problem::LogNotWritten:
            problemTip_.Set(hwnd_, ctl_.text2, ProblemTitle(problem), text);
            break;
        case Problem::AddressChanged:
            problemTip_.Set(hwnd_, ctl_.text1, ProblemTitle(problem), text, TTI_INFO);
            if (GetForegroundWindow() != hwnd_) {
                FLASHWINFO flash{sizeof flash, hwnd_, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
                FlashWindowEx(&flash);
            }
            break;
        case Problem::None:
            // The settings' trouble stays said until a save succeeds.
            if (!settingsText_.empty())
                problemTip_.Set(hwnd_, ctl_.text2, settingsTitle_, settingsText_);
            else
                problemTip_.Set(hwnd_, ctl_.text1, L"", L"");
            break;
    }
}

// Each value lives in its control, or in detached_ when there is no window.
std::wstring FrmMain::AddressText() { return ctl_.text1 ? controls::WindowText(ctl_.text1) : detached_.text1; }
void FrmMain::SetAddressText(const std::wstring& text) {
    // The same address again changes nothing; the edit control would still
    // lay its text out anew.
    if (!ctl_.text1)
        detached_.text1 = text;
    else if (controls::WindowText(ctl_.text1) != text)
        SetWindowTextW(ctl_.text1, text.c_str());
    UpdateAddressTip();
}

void FrmMain::StillAsking() {
    if (showOnAddress_ && hwnd_ && !Silent() && !IsWindowVisible(hwnd_)) ShowNow();
}
std::wstring FrmMain::LogPath() { return ctl_.text2 ? controls::WindowText(ctl_.text2) : detached_.text2; }
int FrmMain::OverwriteState() { return CheckValue(kOverwrite); }
int FrmMain::DateState() { return CheckValue(kDate); }

int FrmMain::CheckValue(Option option) {
    HWND box = OptionBox(option);
    return box ? static_cast<int>(SendMessageW(box, BM_GETCHECK, 0, 0)) : detached_.checks[option];
}

void FrmMain::Link_Click() {
    // Bound at the first click: most runs never need the shell.
    using ShellExecuteFn = decltype(&ShellExecuteA);
    static const auto shellExecute = ProcAddress<ShellExecuteFn>(LoadSystemLibrary(L"shell32.dll"), "ShellExecuteA");
    if (shellExecute) shellExecute(hwnd_, "Open", QUILLON_MAKER_PAGE, "", "", SW_SHOWNORMAL);
}

void FrmMain::OnCommand(HWND from, WORD code) {
    if (!from) return;
    if (from == ctl_.command1 && code == BN_CLICKED) {
        Command1_Click();
    } else if ((from == ctl_.check1 || from == ctl_.check2) && code == BN_CLICKED) {
        // A click checks a cleared or grayed box and clears a checked one.
        const Option option = from == ctl_.check1 ? kOverwrite : kDate;
        SetCheckValue(option, CheckValue(option) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    } else if (from == ctl_.text2 && code == EN_CHANGE) {
        if (!settingText2_) Text2_Change();
    } else if ((from == ctl_.image2 || from == ctl_.label4) && code == STN_CLICKED) {
        Link_Click();
    }
}

LRESULT CALLBACK FrmMain::WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* self = static_cast<FrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        if (self) {
            self->hwnd_ = nullptr;
            self->ctl_ = {};
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
    return self ? self->OnMessage(msg, wp, lp) : DefWindowProcW(hwnd, msg, wp, lp);
}

LRESULT FrmMain::OnMessage(UINT msg, WPARAM wp, LPARAM lp) {
    if (OnTrayEvent(msg, wp, lp)) return 0;
    switch (msg) {
        case WM_COMMAND:
            // Under Wine a submenu of the window menu sends its items here.
            if (!lp && !HIWORD(wp) && OnOption(LOWORD(wp))) return 0;
            OnCommand(reinterpret_cast<HWND>(lp), HIWORD(wp));
            return 0;
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (item && item->hwndItem == ctl_.command1) {
                DrawCommand1(*item);
                return TRUE;
            }
            break;
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_SETCURSOR: {
            const HWND over = reinterpret_cast<HWND>(wp);
            if (hand_ && (over == ctl_.image2 || over == ctl_.label4)) {
                SetCursor(hand_);
                return TRUE;
            }
            break;
        }
        case WM_TIMER:
            if (wp == kRefreshTimer) {
                Command1_Click();  // ignored while a refresh is under way
            } else if (wp == kResumeTimer) {
                KillTimer(hwnd_, kResumeTimer);
                ArmRefreshTimer();
                Command1_Click();
            }
            // One attempt a tick, never a wait: typing goes on meanwhile.
            if (wp == kSettingsTimer) {
                if (settingsUnread_)
                    LoadSettings();
                else
                    pending_.Retry();
                ShowSettingsState();
            }
            return 0;
        case WM_ACTIVATE:
        case WM_WINDOWPOSCHANGED:
            // The balloon follows the window: at its box, and only while
            // the window is the one in use.
            problemTip_.Update();
            break;
        case WM_CLOSE:
            // Every way of closing the window ends the program at once;
            // the settings were saved as they changed. A silent run closed
            // before it logged has not done its work.
            End(Silent() ? net::RunEnd::Closed : net::RunEnd::WindowClosed);
            return 0;
        case WM_POWERBROADCAST:
            // Asleep, no refresh is due; awake, one comes soon, however
            // long the sleep, and the period counts from there.
            if (wp == PBT_APMSUSPEND) {
                KillTimer(hwnd_, kRefreshTimer);
            } else if ((wp == PBT_APMRESUMEAUTOMATIC || wp == PBT_APMRESUMESUSPEND) && refreshMinutes_ &&
                       !Silent()) {
                KillTimer(hwnd_, kRefreshTimer);
                SetTimer(hwnd_, kResumeTimer, kAfterWakeMs, nullptr);
            }
            return TRUE;
        case WM_INITMENUPOPUP:
            // The options show the state in force each time the menu opens.
            if (HIWORD(lp)) AddOptions(GetSystemMenu(hwnd_, FALSE), Options());
            break;
        case WM_SYSCOMMAND:
            if (OnOption(static_cast<UINT>(wp & 0xFFF0))) return 0;
            break;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wp) End(Silent() ? net::RunEnd::Closed : net::RunEnd::WindowClosed);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(hwnd_, msg, wp, lp);
}

}  // namespace quillon::ui
