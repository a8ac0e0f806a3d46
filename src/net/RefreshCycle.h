#pragma once
// One refresh from the click to its outcome: what it asks, read once; the
// fetch; the log write; and the outcome, made once and handed to the window.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Handle.h"
#include "net/Actions.h"
#include "net/AddressFetch.h"
#include "net/Outcome.h"
#include "net/WindowState.h"

namespace quillon::net {

class RefreshCycle : public AddressFetch {
public:
    RefreshCycle(WindowState& window, std::vector<AddressServer> servers);
    // The built-in servers for the given host (none: the public services).
    RefreshCycle(WindowState& window, const std::string& builtInHost);

    // The refresh button's action: ask the servers, show and log what they
    // found, then hand the window the outcome. A click that arrives while a
    // refresh runs is ignored.
    void Command1_Click();
    bool Running() const { return bRunning; }

    // The last refresh's outcome, from the moment its log write returned
    // (before the window hears of it); none before, or during a refresh.
    const Outcome* Settled() const { return settled_ ? &*settled_ : nullptr; }
    // Why each server asked in the last refresh gave no address.
    const std::vector<Failure>& Failures() const { return failures_; }

    // For a run about to end: ends the actions under way (the command with
    // every process it started), waiting up to waitMs.
    void EndActions(DWORD waitMs);

private:
    class Shower;
    void ActOnChange(const std::wstring (&found)[2], const ActionsRecord& before);

    WindowState& window_;
    bool bRunning = false;
    KernelHandle endActions_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle actionsIdle_{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
    std::optional<Outcome> settled_;
    std::vector<Failure> failures_;
};

// Writes what the refresh found to its log and fills in the outcome's log
// part: a line of each family found, in one write. A window answers
// meanwhile: its write runs on a thread of its own. once, where given, runs
// as soon as the outcome is settled, inside the write's section that a
// silent run's time limit waits for.
void LogOutcome(Outcome& outcome, const std::function<void(const Outcome&)>& once = nullptr);

// Runs work on a thread of its own, not one of the request pool's (which
// stuck requests may all hold), and lets the window handle its messages
// until it returns.
void RunBesideWindow(std::function<void()> work);

}  // namespace quillon::net
