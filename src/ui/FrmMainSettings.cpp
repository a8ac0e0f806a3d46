// The window's settings binding: what the settings file gives the window at
// load, and what each change of a box writes back.
#include "QuillonConfig.h"
#include "net/AddressServer.h"
#include "ui/FrmMain.h"

namespace quillon::ui {

// The user's own address servers and the changes-only option. A url that
// is not accepted is said once, plainly; the window then fetches nothing.
bool FrmMain::ReadServerSettings(const std::wstring& settingsPath) {
    changesOnly_ = settings::ReadIniValue(L"Main", L"changes", settingsPath) == L"1";
    const std::wstring url = settings::ReadIniValue(L"Main", L"url", settingsPath);
    std::wstring problem;
    if (url.empty()) return true;
    if (const auto servers = net::ParseServerUrls(url, &problem)) {
        cycle_.servers = *servers;
        return true;
    }
    serverRejected_ = true;
    if (!AskedSilent()) {
        const std::wstring shown = url.size() > 300 ? url.substr(0, 300) + L"\u2026" : url;
        const std::wstring builtIn = *QUILLON_ADDRESS_HOST ? L"its built-in address server" : L"public address services";
        const std::wstring text = L"The setting url in [Main] of Quillon_settings.ini is not accepted: " + problem +
                                  L".\n\n    url=" + shown + L"\n\nAccepted: " + net::kAcceptedUrls +
                                  L"\n\nQuillon fetches nothing until it is corrected. Without url, it asks " +
                                  builtIn + L".";
        MessageBoxW(hwnd_, text.c_str(), L"Quillon", MB_OK | MB_ICONWARNING);
    }
    return false;
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
void FrmMain::SaveSetting(const wchar_t* key, const std::wstring& value) {
    if (!writeBack_) return;
    pending_.Write(settings::SettingsPath(), L"Main", key, value);
    if (!pending_.Empty() && hwnd_) SetTimer(hwnd_, kSettingsTimer, 200, nullptr);
}

}  // namespace quillon::ui
