#pragma once
#include <string>

#include "net/Outcome.h"

namespace quillon::net {

// What the refresh cycle reads of the main window, and tells it. What a
// refresh asks is read once, as it starts (Ask); what it found is told
// once, as the outcome, when it ends.
class WindowState {
public:
    virtual ~WindowState() = default;
    virtual std::wstring AddressText() = 0;                  // Text1
    virtual void SetAddressText(const std::wstring& text) = 0;
    virtual std::wstring LogPath() = 0;                      // Text2, as typed
    virtual int OverwriteState() = 0;                        // Check1: 0, 1 or 2
    virtual int DateState() = 0;                             // Check2: 0, 1 or 2
    virtual bool Silent() = 0;                               // a run that fetches once and ends
    // Log only an address that differs from the log's last one.
    virtual bool ChangesOnly() { return false; }
    // Ask for the IPv6 address beside the IPv4 one.
    virtual bool AsksIpv6() { return false; }
    // What is done when the address changed; the record's path "" for the usual one.
    virtual ActionSettings ChangeActions() { return {}; }

    using Problem = net::Problem;
    // What went wrong in a refresh, or changed, for the user to see.
    virtual void ShowProblem(Problem, const std::wstring& /*text*/) {}
    // One family's address has been shown for a while and the other's is
    // still asked for.
    virtual void StillAsking() {}

    // Everything a refresh reads of the window, at once.
    RefreshAsk Ask();
    // One family's address, shown as soon as it is in; a family that fails
    // keeps what the window showed of it.
    void ShowFound(const RefreshAsk& ask, Family family, const std::wstring& address);
    // The refresh's end. By default the window shows what it says.
    virtual void Refreshed(const Outcome& outcome);

private:
    std::wstring shown_[2];  // what Text1 shows of each family
};

}  // namespace quillon::net
