#include "net/Actions.h"

#include <memory>
#include <vector>

#include "common/Handle.h"
#include "common/ModulePath.h"
#include "common/Text.h"
#include "net/AddressRequest.h"
#include "net/AddressText.h"
#include "net/ChangeCommand.h"

namespace quillon::net {
namespace {

// A thread that has ended is read at once; one that has not by then is
// given up on.
constexpr DWORD kGraceMs = 1000;

bool Reached(DWORD at, DWORD now) { return static_cast<LONG>(now - at) >= 0; }

// The same address to the byte, however it is written.
bool SameExactly(const std::wstring& a, const std::wstring& b) {
    const auto x = ParseAddress(a), y = ParseAddress(b);
    return x && y ? *x == *y : a == b;
}

std::wstring LocalTimeOf(std::uint64_t seconds) {
    const std::uint64_t ticks = (seconds + 11644473600ULL) * 10000000ULL;
    const FILETIME utc{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    FILETIME local{};
    SYSTEMTIME t{};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &t)) return L"an hour";
    wchar_t text[16];
    swprintf(text, 16, L"%02u:%02u", t.wHour, t.wMinute);
    return text;
}

// One action on a thread of its own, shared with that thread, which may
// outlive the wait (a request that WinInet keeps in a call).
struct Action {
    std::wstring name;
    std::uint64_t holdKey = 0;   // an update page's
    std::shared_ptr<Exchange> x;  // an update page's request
    std::wstring commandLine;     // the command's
    CommandAddresses addresses;
    DWORD limitMs = 0;
    KernelHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // ends the command
    // Written by the thread; read once it has ended.
    bool ok = false, hold = false;
    std::wstring why;
};

void AskUpdate(Action& a) {
    Exchange& x = *a.x;
    HINTERNET session = WinInet().InternetOpenA(UserAgent().c_str(), INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    if (!x.handles.Add(session)) {
        a.why = L"no connection could be opened";
        return;
    }
    SetTimeouts(session, x.limits);
    x.session = session;
    x.connection = x.handles.Open([&] {
        return WinInet().InternetConnectA(session, x.server.host.c_str(), x.server.port, "", "",
                                          INTERNET_SERVICE_HTTP, 0, 0);
    });
    if (x.connection) RunExchange(x);
    x.handles.CloseAll();
    if (x.answered) {
        std::wstring word;
        const UpdateVerdict verdict = JudgeUpdateAnswer(x.body, &word);
        a.ok = verdict == UpdateVerdict::Done;
        a.hold = verdict == UpdateVerdict::Hold;
        a.why = word;
    } else if (x.status && (x.status < 200 || x.status > 399)) {
        a.why = L"HTTP " + std::to_wstring(x.status);
    } else {
        a.why = x.why.empty() ? L"no connection could be made" : x.why;
    }
}

DWORD WINAPI RunAction(void* param) {
    const std::unique_ptr<std::shared_ptr<Action>> owned(static_cast<std::shared_ptr<Action>*>(param));
    Action& a = **owned;
    if (a.x) {
        AskUpdate(a);
    } else {
        const CommandResult result = RunChangeCommand(a.commandLine, ProgramFolder(), a.addresses, a.limitMs, a.stop.get());
        a.ok = result.ok;
        a.why = result.why;
    }
    return 0;
}

struct Underway {
    std::shared_ptr<Action> action;
    KernelHandle thread;
    DWORD giveUpAt = 0;
    bool settled = false;  // ended, or given up on
    std::wstring gaveUpWhy;
};

// Closes an update's request or ends the command; it has failed unless it
// ends within the grace.
void Stop(Underway& u, DWORD now, const std::wstring& why) {
    if (u.action->x) u.action->x->handles.CloseAll();
    SetEvent(u.action->stop.get());
    u.gaveUpWhy = why;
    u.giveUpAt = now + kGraceMs;
}

}  // namespace

bool ActionsDue(const ActionSettings& settings, const std::wstring (&found)[2], ActionsRecord& before) {
    if (!settings.Any() || (found[kIpv4].empty() && found[kIpv6].empty())) return false;
    // A record that cannot be read is taken as none: they run again rather than never.
    if (!ReadActionsRecord(settings.recordPath, before)) before = {};
    if (before.address[kIpv4].empty() && before.address[kIpv6].empty()) return true;
    for (const Family family : {kIpv4, kIpv6})
        if (!found[family].empty() && !SameExactly(found[family], before.address[family])) return true;
    return false;
}

void RunActions(const ActionSettings& settings, const std::wstring (&found)[2], const ActionsRecord& before,
                std::optional<DWORD> deadline, HANDLE cancel, ActionsOutcome& out) {
    const DWORD start = GetTickCount();
    const std::uint64_t seconds = SecondsNow();
    std::vector<Underway> underway;
    const auto launch = [&](std::shared_ptr<Action> action, DWORD limitMs) {
        auto* param = new std::shared_ptr<Action>(action);
        HANDLE thread = CreateThread(nullptr, 0, RunAction, param, 0, nullptr);
        if (!thread) {
            delete param;
            out.failed.push_back({action->name, L"not started: no thread could be made"});
            return;
        }
        underway.push_back({std::move(action), KernelHandle(thread), start + limitMs + kGraceMs, false, L""});
    };
    for (const UpdateUrl& url : settings.updates) {
        const std::uint64_t key = HoldKey(settings.update, url.text);
        if (const std::uint64_t until = before.HeldUntil(key, seconds)) {
            out.failed.push_back({url.host, L"its account was refused; not asked again until " + LocalTimeOf(until) +
                                                L", or until update changes"});
            continue;
        }
        // A family this refresh gave no address for is asked the next time.
        const auto server = ExpandUpdateUrl(url, found[kIpv4], found[kIpv6]);
        if (!server) continue;
        auto action = std::make_shared<Action>();
        action->name = url.host;
        action->holdKey = key;
        action->x = std::make_shared<Exchange>();
        action->x->server = *server;
        action->x->limits.timeoutMs = kUpdateLimitMs;
        action->x->started = GetTickCount();
        action->x->waitMs = kUpdateLimitMs;
        action->x->keepAlive = false;
        if (!url.authorization.empty()) action->x->headers = "Authorization: " + url.authorization + "\r\n";
        launch(std::move(action), kUpdateLimitMs);
    }
    if (!settings.onchange.empty()) {
        auto action = std::make_shared<Action>();
        action->name = CommandName(settings.onchange);
        action->commandLine = settings.onchange;
        action->addresses = {found[kIpv4], found[kIpv6], before.address[kIpv4], before.address[kIpv6]};
        action->limitMs = kCommandLimitMs;
        if (deadline)
            action->limitMs = Reached(*deadline, start) ? 0 : std::min<DWORD>(kCommandLimitMs, *deadline - start);
        const DWORD limitMs = action->limitMs;
        launch(std::move(action), limitMs);
    }

    bool cancelled = false, overdue = false;
    while (true) {
        std::vector<HANDLE> waits;
        DWORD now = GetTickCount();
        DWORD next = now + INFINITE / 2;
        for (const Underway& u : underway)
            if (!u.settled) {
                waits.push_back(u.thread.get());
                if (static_cast<LONG>(u.giveUpAt - next) < 0) next = u.giveUpAt;
            }
        if (waits.empty()) break;
        if (deadline && !overdue && static_cast<LONG>(*deadline - next) < 0) next = *deadline;
        const bool watchCancel = cancel && !cancelled;
        if (watchCancel) waits.push_back(cancel);
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                                    Reached(next, now) ? 0 : next - now);
        now = GetTickCount();
        if (watchCancel && result == WAIT_OBJECT_0 + waits.size() - 1) {
            cancelled = true;
            for (Underway& u : underway)
                if (!u.settled) Stop(u, now, L"ended with the run");
            continue;
        }
        if (deadline && !overdue && Reached(*deadline, now)) {
            overdue = true;
            for (Underway& u : underway)
                if (!u.settled && u.gaveUpWhy.empty())
                    Stop(u, now, u.action->x ? NoAnswerWithin(static_cast<DWORD>(*deadline - start))
                                             : L"still running at the run's end");
        }
        for (Underway& u : underway) {
            if (u.settled) continue;
            if (WaitForSingleObject(u.thread.get(), 0) == WAIT_OBJECT_0) {
                u.settled = true;
                const Action& a = *u.action;
                if (a.ok)
                    out.done.push_back(a.name);
                else
                    out.failed.push_back({a.name, u.gaveUpWhy.empty() ? a.why : u.gaveUpWhy});
            } else if (Reached(u.giveUpAt, now)) {
                if (u.gaveUpWhy.empty()) {
                    Stop(u, now, u.action->x ? NoAnswerWithin(kUpdateLimitMs) : L"did not end");
                    continue;
                }
                u.settled = true;
                out.failed.push_back({u.action->name, u.gaveUpWhy});
            }
        }
    }

    // Holds are kept whatever else happened; the addresses only once all succeeded.
    std::vector<ActionsRecord::Hold> holds;
    for (const Underway& u : underway)
        if (WaitForSingleObject(u.thread.get(), 0) == WAIT_OBJECT_0 && u.action->hold)
            holds.push_back({u.action->holdKey, seconds + 3600});
    const bool succeeded = out.failed.empty() && !cancelled;
    if (succeeded || !holds.empty()) {
        const bool written = UpdateActionsRecord(settings.recordPath, [&](ActionsRecord& record) {
            for (const ActionsRecord::Hold& hold : holds) record.holds.push_back(hold);
            if (!succeeded) return;
            for (const Family family : {kIpv4, kIpv6})
                if (!found[family].empty()) record.address[family] = found[family];
        });
        // Not recorded, they would run again at every refresh.
        if (!written && succeeded)
            out.failed.push_back({L"Quillon_actions.txt", L"not written: " + SystemMessage(GetLastError())});
    }
    out.finished = !cancelled;
}

}  // namespace quillon::net
