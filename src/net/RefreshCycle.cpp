#include "net/RefreshCycle.h"

#include <utility>

#include "common/DoEvents.h"
#include "common/Handle.h"
#include "common/RunLimit.h"

namespace quillon::net {
namespace {

// Between the actions' end and a silent run's time limit: its ending.
constexpr DWORD kActionsMarginMs = 5000;

}  // namespace

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
    // Known before the write, so that the code decided inside it is 4 until they succeed.
    ActionsRecord before;
    outcome.actions.due = ActionsDue(outcome.ask.actions, found.address, before);

    if (outcome.Found()) {
        DoEvents();  // the window shows the address before the write
        LogOutcome(outcome, [](const Outcome& settled) {
            // A silent run's time limit that comes from here on ends it as
            // this outcome says.
            runlimit::Decide(static_cast<UINT>(ExitCode(RunEnd::Refreshed, &settled, true)),
                             EndWords(RunEnd::Refreshed, &settled, true));
        });
    }
    // They act on what the log says: none where the line was not written.
    if (!outcome.logDone) outcome.actions.due = false;
    settled_ = outcome;
    if (settled_->actions.due) ActOnChange(found.address, before);
    if (outcome.Found()) DoEvents();
    window_.Refreshed(*settled_);
}

void RefreshCycle::ActOnChange(const std::wstring (&found)[2], const ActionsRecord& before) {
    // A silent run ends within its time limit, and the actions a few
    // seconds before it.
    std::optional<DWORD> deadline;
    DWORD endsAt = 0;
    if (settled_->ask.silent && runlimit::EndsAt(endsAt)) deadline = endsAt - kActionsMarginMs;
    ActionsOutcome result = settled_->actions;
    const ActionSettings& settings = settled_->ask.actions;
    ResetEvent(endActions_.get());
    ResetEvent(actionsIdle_.get());
    // Off this thread: the window answers meanwhile, and a silent run hears
    // that it is closed.
    RunBesideWindow([&] {
        RunActions(settings, found, before, deadline, endActions_.get(), result);
        SetEvent(actionsIdle_.get());
    });
    const runlimit::Writing writing;
    settled_->actions = result;
    runlimit::Decide(static_cast<UINT>(ExitCode(RunEnd::Refreshed, &*settled_, true)),
                     EndWords(RunEnd::Refreshed, &*settled_, true));
}

void RefreshCycle::EndActions(DWORD waitMs) {
    SetEvent(endActions_.get());
    WaitForSingleObject(actionsIdle_.get(), waitMs);
}

}  // namespace quillon::net
