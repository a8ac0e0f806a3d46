#pragma once
// The program's one window: the address, the refresh button, the log path,
// the two logging options, the silent-mode hint and the maker's link.
#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "common/ComPtr.h"
#include "controls/Control.h"
#include "net/RefreshCycle.h"
#include "settings/Modini.h"
#include "ui/OptionsMenu.h"
#include "ui/ProblemTip.h"
#include "ui/TrayIcon.h"

namespace quillon::ui {

// Where the log goes when the settings name none: beside the program, in
// the folder that holds its settings file, which its user can write to.
std::wstring DefaultLogPath();

class FrmMain final : public net::WindowState {
public:
    // argumentText: the command line after the program's name.
    explicit FrmMain(std::wstring argumentText = L"");
    ~FrmMain() override;
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    // Makes the window, runs the load step, then shows it unless silent.
    void Show();
    // Makes the window and its controls, hidden and ready to be shown,
    // without the load step.
    bool Create();
    // Makes the window and its controls, no more; Show does it if need be.
    bool MakeWindow();

    // The refresh cycle and its session; it does nothing while the
    // settings cannot be read or name an address server that is not
    // accepted.
    void Command1_Click();

    HWND hWnd() const { return hwnd_; }
    controls::Form& Controls() { return *form_.get(); }
    // A control's window by its name, as the visual-style layer knows it.
    HWND Item(const wchar_t* name) const;

    // -1 in silent mode ("-s"), 0 otherwise: the one reading of whether
    // this run is silent, from the argument text.
    const short bSilent;

    // Ends the program; the default ends the process at once.
    std::function<void(int exitCode)> onEnd;

    // What the refresh cycle reads and writes.
    std::wstring AddressText() override;
    void SetAddressText(const std::wstring& text) override;
    std::wstring LogPath() override;
    int OverwriteState() override;
    int DateState() override;
    bool Silent() override { return bSilent == -1; }
    bool ChangesOnly() override { return changesOnly_; }
    bool AsksIpv6() override { return ipv6_; }
    net::ActionSettings ChangeActions() override { return actions_; }
    void ShowProblem(Problem problem, const std::wstring& text) override;
    void StillAsking() override;
    void Refreshed(const net::Outcome& outcome) override;

    // The two option boxes: Check1, Check2.
    enum Option : int { kOverwrite, kDate };

    // Program-made changes run the controls' handlers, as the user's do.
    void SetText2(const std::wstring& text);
    void SetCheckValue(Option option, int value);
    int CheckValue(Option option);

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT OnMessage(UINT msg, WPARAM wp, LPARAM lp);
    void CreateControls();
    // What only a shown window uses: icons, pictures, the font, the link's
    // size and the button's tooltip. A silent run never needs them.
    void Prepare();
    void Form_Load();
    void ShowNow();
    // Ends the run with the exit code that this end and the last refresh's
    // outcome give; a silent run that ends other than 0 leaves its reason.
    void End(net::RunEnd how);
    HWND OptionBox(Option option) const { return option == kOverwrite ? ctl_.check1 : ctl_.check2; }

    // The settings binding.
    bool ReadServerSettings(const settings::IniFile& ini);
    // Says that a setting is not accepted (shown: "key=value", or the key
    // alone where its value may be secret); false, for the caller to return.
    bool RejectSetting(const std::wstring& shown, const std::wstring& problem, const std::wstring& help);
    // Reads the settings file once and puts what it holds into the boxes;
    // false where it cannot be read, which is then said.
    bool LoadSettings();
    // Says what became of the last settings write, on Text2.
    void ShowSettingsState();
    void Check1_Click();
    void Check2_Click();
    void Text2_Change();
    void SaveSetting(const wchar_t* key, const std::wstring& value);
    // Tries kept settings writes, or a settings file that could not be read, again.
    static constexpr UINT_PTR kSettingsTimer = 1;
    // The refresh every few minutes that the settings ask for, and the one
    // soon after the machine wakes.
    static constexpr UINT_PTR kRefreshTimer = 2, kResumeTimer = 3;
    void ArmRefreshTimer();

    // The painting.
    void DrawCommand1(const DRAWITEMSTRUCT& item);
    // Text1's tooltip: each address it shows, one a line.
    std::wstring AddressTip();
    void UpdateAddressTip();
    LRESULT OnCtlColor(HDC dc, HWND control);

    // The options in the system menu.
    OptionsState Options();
    bool OnOption(UINT id);
    void ShowLog();

    // The notification area (tray=1): a minimised window is hidden there.
    void SetTrayMode(bool on);
    void ToTray();
    void FromTray();
    void OnTrayMessage(const TrayEvent& e);
    void TellTray();
    // Marks this normal start of the copy as running; with tray=1, where
    // another was first, brings its window back and is true (this start
    // then ends).
    bool ShowRunningCopy();
    // The mark alone, made before the settings are read, so that a start
    // that cannot read them still counts.
    static void MarkCopyRunning();
    // The icon's messages, Explorer's restart, the retry and the minimise;
    // true where handled.
    bool OnTrayEvent(UINT msg, WPARAM wp, LPARAM lp);
    static constexpr UINT_PTR kTrayTimer = 4;

    void Link_Click();
    void OnCommand(HWND from, WORD code);

    const std::wstring argumentText_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    ComPtr<controls::Form> form_;
    // The controls the window's messages are about, kept as they are made.
    struct {
        HWND text1, text2, check1, check2, command1, image2, label4;
    } ctl_{};
    bool prepared_ = false;
    bool showOnAddress_ = false;  // a normal start's window, not shown yet
    bool trayMode_ = false;
    std::unique_ptr<TrayIcon> tray_;
    bool trayFailureSaid_ = false;  // a failure is said once until a success
    SYSTEMTIME lastRefresh_{};
    Problem lastProblem_ = Problem::None;  // what the last refresh said
    std::wstring lastProblemText_;
    HICON refreshPicture_ = nullptr;  // Command1's, owned by its picture object
    HCURSOR hand_ = nullptr;
    bool settingText2_ = false;
    bool changesOnly_ = false;
    bool ipv6_ = false;
    net::ActionSettings actions_;
    std::wstring rejectedText_;  // why a url or update page in the settings is not accepted
    bool serverRejected_ = false;
    // Off while the load step puts the file's values into the boxes, and
    // while the file cannot be read: what it holds is never replaced by
    // what the window shows in its place.
    bool writeBack_ = true;
    bool settingsUnread_ = false;
    int refreshMinutes_ = 0;  // every=N: 0 for none
    settings::PendingWrites pending_;
    DWORD pendingSince_ = 0;  // when a kept write first had to wait
    // The settings file's trouble, shown on Text2 while it lasts.
    std::wstring settingsTitle_, settingsText_;
    ProblemTip problemTip_;
    // The controls' values in a silent run whose window could not be made.
    struct {
        std::wstring text1, text2;
        int checks[2] = {0, 0};
    } detached_;
    net::RefreshCycle cycle_;
};

}  // namespace quillon::ui
