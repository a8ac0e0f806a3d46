// The window's settings binding: what the settings file gives the window at
// load, and what each change of a box writes back.
#include "QuillonConfig.h"
#include "common/ModulePath.h"
#include "common/Retry.h"
#include "common/Text.h"
#include "net/AddressServer.h"
#include "ui/FrmMain.h"

namespace quillon::ui {
namespace {

// How long a kept write may wait for its file before the window says so.
constexpr DWORD kPendingSaidAfterMs = 2000;

}  // namespace

bool FrmMain::LoadSettings() {
    const std::wstring path = settings::SettingsPath();
    settings::IniFile ini;
    // A program that holds the file for a moment gets that moment before
    // the window shows, or in a silent run. A shown window tries once and
    // goes on answering; its timer tries again.
    const bool shown = hwnd_ && IsWindowVisible(hwnd_);
    if (!(shown ? ini.Load(path) : RetryWhileBusy([&] { return ini.Load(path); }))) {
        settingsUnread_ = true;
        settingsTitle_ = L"The settings could not be read";
        settingsText_ = path + L"\n" + SystemMessage(ini.Error()) + L"\nNothing is fetched until they can be.";
        ShowSettingsState();
        return false;
    }
    const bool wasUnread = settingsUnread_;
    settingsUnread_ = false;
    serverRejected_ = false;
    ReadServerSettings(ini);
    // What the file holds goes into the boxes, and nothing of it back.
    writeBack_ = false;
    const std::wstring log = ini.Value(L"Main", L"log");
    SetText2(log.empty() ? DefaultLogPath() : log);
    // A missing or foreign state: the box as it is designed, cleared.
    for (const Option option : {kOverwrite, kDate}) {
        const int state = settings::ParseCheckState(ini.Value(L"Main", option == kOverwrite ? L"overwrite" : L"date"));
        SetCheckValue(option, state >= 0 ? state : BST_UNCHECKED);
    }
    writeBack_ = true;
    refreshMinutes_ = settings::ParseMinutes(ini.Value(L"Main", L"every"));
    SetTrayMode(ini.Value(L"Main", L"tray") == L"1");
    ArmRefreshTimer();
    if (wasUnread) {
        settingsText_.clear();
        ShowProblem(Problem::None, L"");
    }
    // Only what the file lacks: the log's path, the first time.
    if (log.empty()) SaveSetting(L"log", LogPath());
    return true;
}

void FrmMain::ShowSettingsState() {
    if (!settingsUnread_) {
        const bool waiting = !pending_.Empty();
        if (!waiting) pendingSince_ = 0;
        else if (!pendingSince_) pendingSince_ = GetTickCount() | 1;
        if (hwnd_) {
            if (waiting)
                SetTimer(hwnd_, kSettingsTimer, 200, nullptr);
            else
                KillTimer(hwnd_, kSettingsTimer);
        }
        const bool said = !settingsText_.empty();
        settingsText_.clear();
        if (pending_.Dropped()) {
            settingsTitle_ = L"The settings were not saved";
            settingsText_ = settings::SettingsPath() + L"\n" + SystemMessage(pending_.Error());
        } else if (waiting && GetTickCount() - pendingSince_ >= kPendingSaidAfterMs) {
            settingsTitle_ = L"The settings are not saved yet";
            settingsText_ = settings::SettingsPath() + L"\n" + SystemMessage(pending_.Error()) +
                            L"\nQuillon tries again while the window is open.";
        } else {
            if (said) ShowProblem(Problem::None, L"");
            return;
        }
    } else if (hwnd_) {
        SetTimer(hwnd_, kSettingsTimer, 1000, nullptr);
    }
    if (hwnd_ && !Silent()) problemTip_.Set(hwnd_, ctl_.text2, settingsTitle_, settingsText_);
}

// The user's own address servers, the actions on a change, and the options
// that only the file sets. A url or an update page that is not accepted is
// said once, plainly; the window then fetches nothing.
bool FrmMain::ReadServerSettings(const settings::IniFile& ini) {
    changesOnly_ = ini.Value(L"Main", L"changes") == L"1";
    ipv6_ = ini.Value(L"Main", L"ipv6") == L"1";
    const std::wstring builtIn = *QUILLON_ADDRESS_HOST ? L"its built-in address server" : L"public address services";
    for (const wchar_t* key : {L"url", L"url6"}) {
        const std::wstring url = ini.Value(L"Main", key);
        if (url.empty()) continue;
        std::wstring problem;
        const auto servers = net::ParseServerUrls(url, &problem);
        if (servers) {
            (std::wstring_view(key) == L"url6" ? cycle_.servers6 : cycle_.servers) = *servers;
            continue;
        }
        const std::wstring shown = url.size() > 300 ? url.substr(0, 300) + L"\u2026" : url;
        return RejectSetting(std::wstring(key) + L"=" + shown, problem,
                             std::wstring(L"Accepted: ") + net::kAcceptedUrls + L"\n\nQuillon fetches nothing until it is corrected. Without " +
                                 key + L", it asks " + builtIn + L".");
    }
    actions_ = {};
    actions_.update = ini.Value(L"Main", L"update");
    // As written: quotes around a program's path are the command's own.
    actions_.onchange = ini.Value(L"Main", L"onchange", true);
    if (!actions_.update.empty()) {
        std::wstring problem;
        const auto urls = net::ParseUpdateUrls(actions_.update, ipv6_, &problem);
        if (!urls) {
            // Its path, query or password may be secret: the host alone is named.
            actions_ = {};
            return RejectSetting(L"update", problem,
                                 L"Accepted: http:// or https:// URLs, separated by blanks, at most " +
                                     std::to_wstring(net::kMaxUpdateUrls) +
                                     L", with {ipv4} and {ipv6} in their path or query ({ipv6} with ipv6=1), "
                                     L"and a user:password@ before the host only with https://.\n\n"
                                     L"Quillon fetches nothing until it is corrected.");
        }
        actions_.updates = *urls;
    }
    return true;
}

bool FrmMain::RejectSetting(const std::wstring& shown, const std::wstring& problem, const std::wstring& help) {
    serverRejected_ = true;
    rejectedText_ = shown + L"\n" + problem;
    if (Silent()) return false;
    const size_t eq = shown.find(L'=');
    const std::wstring key = shown.substr(0, eq);
    const std::wstring text = L"The setting " + key + L" in [Main] of Quillon_settings.ini is not accepted: " + problem +
                              L"." + (eq == std::wstring::npos ? L"" : L"\n\n    " + shown) + L"\n\n" + help;
    MessageBoxW(hwnd_, text.c_str(), L"Quillon", MB_OK | MB_ICONWARNING);
    return false;
}

OptionsState FrmMain::Options() {
    return {refreshMinutes_, changesOnly_, ipv6_, trayMode_, StartsWithWindows()};
}

// Each choice takes effect at once and is written as a box's change is.
bool FrmMain::OnOption(UINT id) {
    if (const int every = EveryOfCommand(id); every >= 0) {
        refreshMinutes_ = every;
        ArmRefreshTimer();
        SaveSetting(L"every", std::to_wstring(every));
    } else if (id == kMenuEveryOther) {
        return true;  // the value in force already
    } else if (id == kMenuChanges) {
        changesOnly_ = !changesOnly_;
        SaveSetting(L"changes", changesOnly_ ? L"1" : L"0");
    } else if (id == kMenuIpv6) {
        ipv6_ = !ipv6_;  // from the next refresh: the one under way keeps what it asked
        SaveSetting(L"ipv6", ipv6_ ? L"1" : L"0");
    } else if (id == kMenuTray) {
        SetTrayMode(!trayMode_);
        SaveSetting(L"tray", trayMode_ ? L"1" : L"0");
    } else if (id == kMenuStartWithWindows) {
        DWORD error = ERROR_SUCCESS;
        if (!SetStartWithWindows(!StartsWithWindows(), error) && hwnd_)
            problemTip_.Set(hwnd_, ctl_.text2, L"Start with Windows was not changed",
                            L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\n" +
                                SystemMessage(error));
    } else if (id == kMenuShowLog) {
        ShowLog();
    } else {
        return false;
    }
    return true;
}

void FrmMain::ShowLog() {
    const std::wstring path = FromProgramFolder(LogPath());
    DWORD error = ERROR_SUCCESS;
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (hwnd_) problemTip_.Set(hwnd_, ctl_.text2, L"There is no log yet", path + L"\n" + SystemMessage(GetLastError()));
    } else if (!OpenAsText(path, error) && hwnd_) {
        problemTip_.Set(hwnd_, ctl_.text2, L"The log could not be shown", path + L"\n" + SystemMessage(error));
    }
}

void FrmMain::SetText2(const std::wstring& text) {
    if (LogPath() == text) return;
    if (ctl_.text2) {
        settingText2_ = true;
        SetWindowTextW(ctl_.text2, text.c_str());
        settingText2_ = false;
    } else {
        detached_.text2 = text;
    }
    Text2_Change();
}

void FrmMain::SetCheckValue(Option option, int value) {
    if (CheckValue(option) == value) return;
    if (HWND box = OptionBox(option))
        SendMessageW(box, BM_SETCHECK, static_cast<WPARAM>(value), 0);
    else
        detached_.checks[option] = value;
    if (option == kOverwrite)
        Check1_Click();
    else
        Check2_Click();
}

void FrmMain::Check1_Click() { SaveSetting(L"overwrite", std::to_wstring(OverwriteState())); }

void FrmMain::Check2_Click() { SaveSetting(L"date", std::to_wstring(DateState())); }

void FrmMain::Text2_Change() { SaveSetting(L"log", LogPath()); }

// Written at once where the file allows; where another program holds it,
// kept and tried again a moment later, so that typing never waits for it.
// A file that could not be read is never written.
void FrmMain::SaveSetting(const wchar_t* key, const std::wstring& value) {
    if (!writeBack_ || settingsUnread_) return;
    pending_.Write(settings::SettingsPath(), L"Main", key, value);
    ShowSettingsState();
}

}  // namespace quillon::ui
