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
    }
    std::wstring LogPath() override { return logPath; }
    int OverwriteState() override { return overwrite; }
    int DateState() override { return date; }
    bool Silent() override { return silent; }
    bool ChangesOnly() override { return changesOnly; }
    void ShowProblem(Problem shown, const std::wstring& text) override {
        problem = shown;
        problemText = text;
    }
    void Unload(int exitCode) override {
        ++unloads;
        lastLogged = exitCode == 0;
        lastExitCode = exitCode;
    }

    std::wstring address = L"unchanged";
    std::wstring logPath;
    int overwrite = 0;
    int date = 0;
    bool silent = false;
    bool changesOnly = false;
    int setAddressCalls = 0;
    int unloads = 0;
    bool lastLogged = false;
    int lastExitCode = -1;
    Problem problem = Problem::None;
    std::wstring problemText;
};

}  // namespace quillon::test
