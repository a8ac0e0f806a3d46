#include "net/RefreshCycle.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "common/DoEvents.h"
#include "common/Handle.h"
#include "common/ModulePath.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "log/LogLine.h"
#include "log/LogWriter.h"
#include "net/AddressText.h"

namespace quillon::net {

std::string UserAgent() {
    std::wstring name = ModulePath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return ToAnsi(name);
}

RefreshCycle::RefreshCycle(WindowState& window, std::vector<AddressServer> servers)
    : servers(std::move(servers)), window_(window) {
    if (!this->servers.empty()) server = this->servers.front();
}

RefreshCycle::RefreshCycle(WindowState& window, const std::string& builtInHost)
    : RefreshCycle(window, BuiltInServers(builtInHost)) {
    servers6 = BuiltInServers6(builtInHost);
}

struct RefreshCycle::Round {
    Family family = kIpv4;
    std::vector<AddressServer> servers;  // asked in order
    DWORD started = GetTickCount();
    size_t next = 0;   // the next server to ask
    DWORD nextAt = 0;  // when it is asked beside those under way
    std::vector<Flight> flying;
    bool answered = false;
    std::wstring address;
};

RefreshCycle::~RefreshCycle() { Shutdown(0); }

void RefreshCycle::Prepare() {
    pool_.Start([] { WinInet(); });
}

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a cycle that would close this one's handles.
    if (bRunning || shutDown_) return;
    bRunning = true;
    const ScopeExit reset([this] { bRunning = false; });
    failures_.clear();
    exitCode_ = 1;
    problem_.clear();
    changedFrom_.clear();

    // Each family's servers but the last have their own share of the
    // cycle's time; the last has what is left. One that has not answered
    // within hedgeMs has the next asked beside it, and the first address
    // wins. Both families are asked side by side, within the one bound.
    std::vector<Round> rounds(ipv6 ? 2 : 1);
    rounds[0].servers = servers;
    if (ipv6) {
        for (AddressServer& s : rounds[0].servers) s.ipv4Only = true;
        rounds[1].family = kIpv6;
        rounds[1].servers = servers6;
        for (AddressServer& s : rounds[1].servers) s.ipv6Only = true;
    }
    DoEvents();  // the request yields first, and the log's writing last
    stillAskingAt_ = 0;
    while (!shutDown_) {
        bool launched = false, flying = false;
        for (Round& r : rounds)
            if (!r.answered) launched = LaunchDue(r) || launched;
        if (launched) continue;
        for (const Round& r : rounds) flying = flying || !r.flying.empty();
        if (!flying) break;
        // A hedge's time after one family's address, the window hears that
        // the other is still asked for.
        if (!stillAskingAt_ && std::any_of(rounds.begin(), rounds.end(), [](const Round& r) { return r.answered; }))
            stillAskingAt_ = (GetTickCount() + limits.hedgeMs) | 1;
        if (stillAskingAt_ != 1 && stillAskingAt_ && static_cast<LONG>(GetTickCount() - stillAskingAt_) >= 0) {
            stillAskingAt_ = 1;
            window_.StillAsking();
            continue;
        }
        AwaitFlights(rounds);
    }
    for (Round& r : rounds)
        for (Flight& f : r.flying) f.x->handles.CloseAll();
    if (shutDown_) return;
    LogAddresses(rounds);
    Report(rounds);
}

void RefreshCycle::Fail(const Round& r, const std::wstring& url, const std::wstring& why, bool reached) {
    failures_.push_back({url, why, r.family, reached});
}

// The next server, where none is under way, its turn has come or the one
// before failed outright; false when none is due.
bool RefreshCycle::LaunchDue(Round& r) {
    const DWORD now = GetTickCount();
    if (r.next >= r.servers.size() || (!r.flying.empty() && static_cast<LONG>(now - r.nextAt) < 0)) return false;
    server = r.servers[r.next++];
    if (now - r.started >= limits.totalMs) {
        Fail(r, ServerUrl(server), L"not asked: the time was up", false);
        return true;
    }
    const DWORD left = limits.totalMs - (now - r.started);
    const DWORD waitMs = r.next < r.servers.size() && limits.perServerMs < left ? limits.perServerMs : left;
    r.nextAt = PostRequest(r, waitMs) ? GetTickCount() + limits.hedgeMs : now;
    return true;
}

// The server being asked, on a request thread; false, the failure noted,
// where it is passed over or no request could be made.
bool RefreshCycle::PostRequest(Round& r, DWORD waitMs) {
    const size_t inFlight = InFlight();
    const std::wstring url = ServerUrl(server);
    for (const Flight& f : live_)
        if (ServerUrl(f.x->server) == url) {
            Fail(r, url, L"not asked: its request from an earlier refresh is still under way", true);
            return false;
        }
    if (inFlight >= kMaxInFlight) {
        Fail(r, url, L"not asked: " + std::to_wstring(inFlight) + L" requests are still under way", true);
        return false;
    }
    Connect(server.host, proxy);
    const std::shared_ptr<Exchange> x = NewExchange(server.object, waitMs);
    if (!x) {
        Fail(r, url, L"no connection could be opened", true);
        return false;
    }
    const ExchangePool::Ticket ticket = pool_.Begin([x] { RunExchange(*x); });
    if (!ticket) {
        x->handles.CloseAll();
        Fail(r, url, L"not asked: no thread could be started", true);
        return false;
    }
    live_.push_back({x, ticket});
    r.flying.push_back({x, ticket});
    return true;
}

// Until an answer, a server's turn, or a request's own end.
void RefreshCycle::AwaitFlights(std::vector<Round>& rounds) {
    const DWORD now = GetTickCount();
    DWORD waitMs = limits.totalMs;
    if (stillAskingAt_ > 1) waitMs = static_cast<LONG>(stillAskingAt_ - now) > 0 ? stillAskingAt_ - now : 0;
    std::vector<ExchangePool::Ticket> tickets;
    std::vector<std::pair<Round*, size_t>> whose;
    for (Round& r : rounds) {
        if (r.answered) continue;
        if (r.next < r.servers.size())
            waitMs = std::min<DWORD>(waitMs, static_cast<LONG>(r.nextAt - now) > 0 ? r.nextAt - now : 0);
        for (size_t i = 0; i < r.flying.size(); ++i) {
            const DWORD end = r.flying[i].x->started + r.flying[i].x->waitMs;
            waitMs = std::min<DWORD>(waitMs, static_cast<LONG>(end - now) > 0 ? end - now : 0);
            tickets.push_back(r.flying[i].ticket);
            whose.emplace_back(&r, i);
        }
    }
    const int ended = pool_.AwaitAny(tickets, waitMs);
    if (ended < 0) {
        for (Round& r : rounds) SweepOverdue(r);
        return;
    }
    Round& r = *whose[static_cast<size_t>(ended)].first;
    const size_t i = whose[static_cast<size_t>(ended)].second;
    const std::shared_ptr<Exchange> x = r.flying[i].x;
    r.flying.erase(r.flying.begin() + static_cast<std::ptrdiff_t>(i));
    r.answered = Finish(r, *x);
    if (!r.answered) {
        r.nextAt = GetTickCount();  // a failure is passed over at once
        return;
    }
    // Those the answer outran end here, not in their own time.
    for (Flight& f : r.flying) f.x->handles.CloseAll();
    r.flying.clear();
}

// Requests past their time: said, and their handles closed.
void RefreshCycle::SweepOverdue(Round& r) {
    for (size_t i = 0; i < r.flying.size();) {
        Exchange& x = *r.flying[i].x;
        if (GetTickCount() - x.started < x.waitMs) {
            ++i;
            continue;
        }
        Fail(r, ServerUrl(x.server), NoAnswerWithin(x.waitMs), x.replied);
        x.handles.CloseAll();
        r.flying.erase(r.flying.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

std::wstring RefreshCycle::FailureText(const Round& r) const {
    if (r.answered) return L"";
    std::wstring text;
    bool reached = false;
    for (const Failure& f : failures_)
        if (f.family == r.family) {
            text += (text.empty() ? L"" : L"\n") + f.url + L": " + f.why;
            reached = reached || f.reached;
        }
    // Three reasons that all say one thing are said as that one thing.
    if (r.family == kIpv6 && !reached) return L"IPv6: this network has no IPv6 connection";
    return ipv6 ? (r.family == kIpv6 ? L"IPv6:\n" : L"IPv4:\n") + text : text;
}

void RefreshCycle::Report(const std::vector<Round>& rounds) {
    using Problem = WindowState::Problem;
    std::wstring failed;
    size_t found = 0;
    Problem missing = Problem::NoAddress;
    for (const Round& r : rounds) {
        const std::wstring why = FailureText(r);
        if (!why.empty()) failed += (failed.empty() ? L"" : L"\n") + why;
        if (!why.empty()) missing = r.family == kIpv6 ? Problem::NoIpv6Address : Problem::NoIpv4Address;
        found += r.answered ? 1 : 0;
    }
    if (!found) {
        window_.ShowProblem(Problem::NoAddress, failed);
    } else if (exitCode_ == 1) {
        window_.ShowProblem(Problem::LogNotWritten, problem_);
    } else if (!changedFrom_.empty()) {
        // A change and a family's failure are said in the one balloon.
        window_.ShowProblem(Problem::AddressChanged, changedFrom_ + (failed.empty() ? L"" : L"\n\n" + failed));
    } else if (!failed.empty()) {
        window_.ShowProblem(missing, failed);
    } else {
        window_.ShowProblem(Problem::None, L"");
    }
    if (window_.Silent()) window_.Unload(exitCode_);
}

size_t RefreshCycle::InFlight() {
    std::erase_if(live_, [this](const Flight& f) { return pool_.Done(f.ticket); });
    return live_.size();
}

bool RefreshCycle::Connect(const std::string& ServerName, const std::string& ProxyName) {
    const std::string agent = UserAgent();
    const std::string proxy = ProxyName;
    HINTERNET session =
        proxy.empty()
            ? WinInet().InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0)
            : WinInet().InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, proxy.c_str(), "", 0);
    if (!session) return false;
    hSession.reset(session);
    SetTimeouts(session, limits);

    HINTERNET connection = WinInet().InternetConnectA(hSession.get(), ServerName.c_str(), server.port, "", "",
                                                      INTERNET_SERVICE_HTTP, 0, 0);
    if (connection) {
        hConnect.reset(connection);
        return true;
    }
    Disconnect();
    return false;
}

void RefreshCycle::Disconnect() {
    // Connection, session; each field is cleared as it closes. The request
    // is the exchange's own, closed where it was opened.
    hConnect.reset();
    hSession.reset();
}

std::shared_ptr<Exchange> RefreshCycle::NewExchange(const std::string& ScriptName, DWORD waitMs) {
    auto x = std::make_shared<Exchange>();
    x->server = server;
    x->server.object = ScriptName;
    x->limits = limits;
    x->started = GetTickCount();
    x->waitMs = waitMs;
    // A run that ends after its one request keeps no connection: a kept one
    // goes to WinInet's pool, whose thread would start as the process ends.
    x->keepAlive = !window_.Silent();
    if (!hConnect) {
        Disconnect();
        return nullptr;
    }
    // The exchange's own from here, closed once by it or by this cycle.
    x->session = hSession.get();
    x->connection = hConnect.get();
    x->handles.Add(hSession.release());
    x->handles.Add(hConnect.release());
    return x;
}

bool RefreshCycle::Finish(Round& r, Exchange& x) {
    x.handles.CloseAll();
    bool answered = x.answered;
    std::wstring why = x.why;
    const std::wstring address = answered ? TrimReply(FromAnsi(x.body)) : L"";
    if (answered && !IsIpAddress(address)) {
        answered = false;
        why = L"the answer was not an address";
    } else if (answered && x.server.ipv4Only && !IsIpv4Address(address)) {
        answered = false;
        why = L"the answer was an IPv6 address, not IPv4";
    } else if (answered && x.server.ipv6Only && !IsPlainIpv6Address(address)) {
        answered = false;
        why = L"the answer was an IPv4 address, not IPv6";
    }
    if (!answered) {
        Fail(r, ServerUrl(x.server), why, x.replied || (x.error != ERROR_SUCCESS && !Unreached(x.error)));
        return false;
    }
    r.address = address;
    shown_[r.family] = address;
    window_.SetAddressText(ShownText());
    return true;
}

std::wstring RefreshCycle::ShownText() const {
    if (!ipv6) return shown_[kIpv4];
    if (shown_[kIpv4].empty() || shown_[kIpv6].empty()) return shown_[kIpv4] + shown_[kIpv6];
    return shown_[kIpv4] + L"  " + shown_[kIpv6];
}

// Every family's line in one write, with one time stamp, once each has
// answered or failed.
void RefreshCycle::LogAddresses(const std::vector<Round>& rounds) {
    size_t found = 0;
    for (const Round& r : rounds) found += r.answered ? 1 : 0;
    if (!found) return;
    const bool withDate = window_.DateState() != 0;
    // As typed in the window and kept in the settings; a relative one lies
    // beside the program, whatever folder the run was started in.
    const std::wstring path = FromProgramFolder(window_.LogPath());
    const SYSTEMTIME now = log::Clock()();
    const bool overwrite = window_.OverwriteState() != 0;
    const log::SameFn same = window_.ChangesOnly() ? SameAddress : nullptr;
    struct Write {
        std::vector<log::LogEntry> entries;
        DWORD error = ERROR_SUCCESS;
        bool written = false;
    };
    const auto w = std::make_shared<Write>();
    for (const Round& r : rounds) {
        log::LogEntry e;
        e.found = r.answered;
        e.address = r.address;
        e.line = withDate ? log::ComposeLogLine(r.address, true, now) : r.address;
        // With one family alone, the last line is the one compared, whatever it holds.
        if (ipv6) e.ofFamily = r.family == kIpv6 ? IsIpv6Address : IsIpv4Address;
        w->entries.push_back(e);
    }

    DoEvents();  // the window shows the address before the write
    const auto write = [w, path, overwrite, same] {
        w->written = log::LogAddresses(path, w->entries, overwrite, same, w->error);
    };
    // A window answers while the write waits for another run's lock or a
    // program that holds the log: the write runs on a thread of its own.
    // The wait has no time limit of its own: the write's waits have theirs.
    const ExchangePool::Ticket ticket = window_.Silent() ? nullptr : pool_.Begin(write);
    if (ticket)
        pool_.AwaitAny({ticket}, INFINITE);
    else
        write();
    DoEvents();
    if (!w->written) {
        problem_ = (path.empty() ? L"(no path)" : path) + L"\n" + log::DescribeLogError(w->error);
        return;
    }
    exitCode_ = found == rounds.size() ? 0 : static_cast<int>(runlimit::kPartlyDone);
    // A window says when an address differs from the one logged last.
    for (const log::LogEntry& e : w->entries) {
        const std::wstring previous = log::AddressOfLine(e.before);
        if (window_.Silent() || !e.found || !IsIpAddress(previous) || SameAddress(previous, e.address)) continue;
        const std::wstring when = e.before.size() > previous.size() + 3 ? e.before.substr(previous.size() + 3) : L"";
        const std::wstring family = !ipv6 ? L"" : IsIpv6Address(e.address) ? L"IPv6 " : L"IPv4 ";
        changedFrom_ += (changedFrom_.empty() ? L"" : L"\n") + family + (family.empty() ? L"Before: " : L"before: ") +
                        previous + (when.empty() ? L"" : L", logged " + when) + L"\nNow: " + e.address;
    }
}

bool RefreshCycle::Shutdown(DWORD waitMs) {
    shutDown_ = true;
    Disconnect();
    for (const Flight& f : live_) f.x->handles.CloseAll();
    live_.clear();
    return pool_.Stop(waitMs);
}

}  // namespace quillon::net
