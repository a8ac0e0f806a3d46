#include "net/RefreshCycle.h"

#include <utility>

#include "common/DoEvents.h"
#include "common/Handle.h"
#include "common/RunLimit.h"

namespace quillon::net {

// What the fetch finds, shown as it comes.
class RefreshCycle::Shower final : public AddressFetch::Listener {
public:
    Shower(WindowState& window, const RefreshAsk& ask) : window_(window), ask_(ask) {}
    void Found(Family family, const std::wstring& address) override { window_.ShowFound(ask_, family, address); }
    void StillAsking() override { window_.StillAsking(); }

private:
    WindowState& window_;
    const RefreshAsk& ask_;
};

RefreshCycle::RefreshCycle(WindowState& window, std::vector<AddressServer> servers)
    : AddressFetch(std::move(servers), {}), window_(window) {}

RefreshCycle::RefreshCycle(WindowState& window, const std::string& builtInHost)
    : AddressFetch(BuiltInServers(builtInHost), BuiltInServers6()), window_(window) {}

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a refresh that would close this one's handles.
    if (bRunning || ShutDown()) return;
    bRunning = true;
    const ScopeExit reset([this] { bRunning = false; });
    settled_.reset();

    Outcome outcome;
    outcome.ask = window_.Ask();
    outcome.families[kIpv4].asked = true;
    outcome.families[kIpv6].asked = outcome.ask.ipv6;
    Shower shower(window_, outcome.ask);
    AddressFetch::Found found = Fetch(outcome.ask.ipv6, !outcome.ask.silent, shower);
    failures_ = found.failures;
    if (found.stopped) return;
    outcome.failures = std::move(found.failures);
    for (const Family family : {kIpv4, kIpv6}) outcome.families[family].address = found.address[family];

    if (outcome.Found()) {
        DoEvents();  // the window shows the address before the write
        LogOutcome(outcome, [](const Outcome& settled) {
            // A silent run's time limit that comes from here on ends it as
            // this outcome says.
            runlimit::Decide(static_cast<UINT>(ExitCode(RunEnd::Refreshed, &settled, true)),
                             EndWords(RunEnd::Refreshed, &settled, true));
        });
    }
    settled_ = outcome;
    if (outcome.Found()) DoEvents();
    window_.Refreshed(*settled_);
}

}  // namespace quillon::net
