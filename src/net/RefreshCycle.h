#pragma once
// One refresh from the click to its outcome: what it asks, read once; the
// fetch; the log write; and the outcome, made once and handed to the window.
#include <functional>
#include <optional>
#include <string>
#include <vector>

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

private:
    class Shower;

    WindowState& window_;
    bool bRunning = false;
    std::optional<Outcome> settled_;
    std::vector<Failure> failures_;
};

// Writes what the refresh found to its log and fills in the outcome's log
// part: a line of each family found, in one write. A window answers
// meanwhile: its write runs on a thread of its own. once, where given, runs
// as soon as the outcome is settled, inside the write's section that a
// silent run's time limit waits for.
void LogOutcome(Outcome& outcome, const std::function<void(const Outcome&)>& once = nullptr);

}  // namespace quillon::net
