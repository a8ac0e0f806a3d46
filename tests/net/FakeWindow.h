#pragma once
// The main window as the refresh cycle sees it, for tests without a window.
#include <functional>
#include <string>

#include "net/WindowState.h"

namespace quillon::test {

class FakeWindow final : public net::WindowState {
public:
    std::wstring AddressText() override { return address; }
    void SetAddressText(const std::wstring& text) override {
        address = text;
        ++setAddressCalls;
        if (onAddress) onAddress();
    }
    std::wstring LogPath() override { return logPath; }
    int OverwriteState() override { return overwrite; }
    int DateState() override { return date; }
    bool Silent() override { return silent; }
    bool ChangesOnly() override { return changesOnly; }
    bool AsksIpv6() override { return ipv6; }
    net::ActionSettings ChangeActions() override { return actions; }
    void ShowProblem(Problem shown, const std::wstring& text) override {
        problem = shown;
        problemText = text;
    }
    // A silent run ends as the outcome says.
    void Refreshed(const net::Outcome& outcome) override {
        net::WindowState::Refreshed(outcome);
        ++refreshes;
        if (!silent) return;
        ++unloads;
        lastExitCode = net::ExitCode(net::RunEnd::Refreshed, &outcome, true);
        lastLogged = lastExitCode == 0;
    }

    std::wstring address = L"unchanged";
    std::wstring logPath;
    int overwrite = 0;
    int date = 0;
    bool silent = false;
    bool changesOnly = false;
    bool ipv6 = false;
    net::ActionSettings actions;
    int refreshes = 0;
    int setAddressCalls = 0;
    std::function<void()> onAddress;  // what the user does as an address shows
    int unloads = 0;
    bool lastLogged = false;
    int lastExitCode = -1;
    Problem problem = Problem::None;
    std::wstring problemText;
};

}  // namespace quillon::test
