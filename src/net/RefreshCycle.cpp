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
    : RefreshCycle(window, BuiltInServers(builtInHost)) {}

RefreshCycle::~RefreshCycle() { Shutdown(0); }

void RefreshCycle::Prepare() {
    pool_.Start([] { WinInet(); });
}

struct RefreshCycle::Round {
    DWORD started = GetTickCount();
    size_t next = 0;   // the next server to ask
    DWORD nextAt = 0;  // when it is asked beside those under way
    std::vector<Flight> flying;
    bool answered = false;
};

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a cycle that would close this one's handles.
    if (bRunning || shutDown_) return;
    bRunning = true;
    const ScopeExit reset([this] { bRunning = false; });
    failures_.clear();
    done_ = false;
    problem_.clear();
    changedFrom_.clear();

    // Each server but the last has its own share of the cycle's time; the
    // last has what is left. One that has not answered within hedgeMs has
    // the next asked beside it, and the first address wins.
    Round round;
    DoEvents();  // the request yields first, and the log's writing last
    while (!round.answered && !shutDown_) {
        if (LaunchDue(round)) continue;
        if (round.flying.empty()) break;
        AwaitFlights(round);
    }
    // Those the answer outran end here, not in their own time.
    for (Flight& f : round.flying) f.x->handles.CloseAll();
    if (!shutDown_) Report(round.answered);
}

// The next server, where none is under way, its turn has come or the one
// before failed outright; false when none is due.
bool RefreshCycle::LaunchDue(Round& r) {
    const DWORD now = GetTickCount();
    if (r.next >= servers.size() || (!r.flying.empty() && static_cast<LONG>(now - r.nextAt) < 0)) return false;
    server = servers[r.next++];
    if (now - r.started >= limits.totalMs) {
        failures_.push_back({ServerUrl(server), L"not asked: the time was up"});
        return true;
    }
    const DWORD left = limits.totalMs - (now - r.started);
    const DWORD waitMs = r.next < servers.size() && limits.perServerMs < left ? limits.perServerMs : left;
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
            failures_.push_back({url, L"not asked: its request from an earlier refresh is still under way"});
            return false;
        }
    if (inFlight >= kMaxInFlight) {
        failures_.push_back({url, L"not asked: " + std::to_wstring(inFlight) + L" requests are still under way"});
        return false;
    }
    Connect(server.host, proxy);
    const std::shared_ptr<Exchange> x = NewExchange(server.object, waitMs);
    if (!x) return false;
    const ExchangePool::Ticket ticket = pool_.Begin([x] { RunExchange(*x); });
    if (!ticket) {
        x->handles.CloseAll();
        failures_.push_back({url, L"not asked: no thread could be started"});
        return false;
    }
    live_.push_back({x, ticket});
    r.flying.push_back({x, ticket});
    return true;
}

// Until an answer, the next server's turn, or a request's own end.
void RefreshCycle::AwaitFlights(Round& r) {
    const DWORD now = GetTickCount();
    DWORD waitMs = r.next < servers.size() ? r.nextAt - now : limits.totalMs;
    if (static_cast<LONG>(waitMs) < 0) waitMs = 0;
    std::vector<ExchangePool::Ticket> tickets;
    for (const Flight& f : r.flying) {
        const DWORD end = f.x->started + f.x->waitMs;
        waitMs = std::min<DWORD>(waitMs, static_cast<LONG>(end - now) > 0 ? end - now : 0);
        tickets.push_back(f.ticket);
    }
    const int ended = pool_.AwaitAny(tickets, waitMs);
    if (ended < 0) {
        SweepOverdue(r);
        return;
    }
    const std::shared_ptr<Exchange> x = r.flying[static_cast<size_t>(ended)].x;
    r.flying.erase(r.flying.begin() + ended);
    r.answered = Finish(*x);
    if (!r.answered) r.nextAt = GetTickCount();  // a failure is passed over at once
}

// Requests past their time: said, and their handles closed.
void RefreshCycle::SweepOverdue(Round& r) {
    for (size_t i = 0; i < r.flying.size();) {
        Exchange& x = *r.flying[i].x;
        if (GetTickCount() - x.started < x.waitMs) {
            ++i;
            continue;
        }
        failures_.push_back({ServerUrl(x.server), NoAnswerWithin(x.waitMs)});
        x.handles.CloseAll();
        r.flying.erase(r.flying.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void RefreshCycle::Report(bool answered) {
    using Problem = WindowState::Problem;
    if (!answered) {
        std::wstring text;
        for (const Failure& f : failures_) text += (text.empty() ? L"" : L"\n") + f.url + L": " + f.why;
        window_.ShowProblem(Problem::NoAddress, text);
    } else if (!done_) {
        window_.ShowProblem(Problem::LogNotWritten, problem_);
    } else if (!changedFrom_.empty()) {
        window_.ShowProblem(Problem::AddressChanged, changedFrom_);
    } else {
        window_.ShowProblem(Problem::None, L"");
    }
    if (window_.Silent()) window_.Unload(done_);
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
        failures_.push_back({ServerUrl(x->server), L"no connection could be opened"});
        return nullptr;
    }
    // The exchange's own from here, closed once by it or by this cycle.
    x->session = hSession.get();
    x->connection = hConnect.get();
    x->handles.Add(hSession.release());
    x->handles.Add(hConnect.release());
    return x;
}

bool RefreshCycle::Finish(Exchange& x) {
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
    }
    if (!answered) {
        failures_.push_back({ServerUrl(x.server), why});
        return false;
    }
    LogAddress(address);
    return true;
}

void RefreshCycle::LogAddress(const std::wstring& address) {
    window_.SetAddressText(address);
    // The yield before the write lets the window show it.
    const bool withDate = window_.DateState() != 0;
    // As typed in the window and kept in the settings; a relative one lies
    // beside the program, whatever folder the run was started in.
    const std::wstring path = FromProgramFolder(window_.LogPath());
    std::wstring line = window_.AddressText();
    if (withDate) line = log::ComposeLogLine(line, true, log::Clock()());
    const bool overwrite = window_.OverwriteState() != 0;

    DoEvents();
    struct Write {
        log::Logged logged = log::Logged::Failed;
        DWORD error = ERROR_SUCCESS;
        std::wstring before;  // the log's last line before this write
    };
    const auto w = std::make_shared<Write>();
    const bool silent = window_.Silent();
    const std::wstring shown = window_.AddressText();
    const log::SameFn same = window_.ChangesOnly() ? SameAddress : nullptr;
    const auto write = [w, path, line, shown, overwrite, same, silent] {
        w->logged = log::LogAddress(path, line, shown, overwrite, same, w->error, silent ? nullptr : &w->before);
    };
    // A window answers while the write waits for another run's lock or a
    // program that holds the log: the write runs on a thread of its own.
    // The wait has no time limit of its own: the write's waits have theirs.
    const ExchangePool::Ticket ticket = silent ? nullptr : pool_.Begin(write);
    if (ticket)
        pool_.AwaitAny({ticket}, INFINITE);
    else
        write();
    DoEvents();
    const log::Logged logged = w->logged;
    const DWORD error = w->error;
    const std::wstring& before = w->before;
    done_ = logged != log::Logged::Failed;
    if (!done_) problem_ = (path.empty() ? L"(no path)" : path) + L"\n" + log::DescribeLogError(error);
    // A window says when the address differs from the one logged last.
    const std::wstring previous = log::AddressOfLine(before);
    if (done_ && IsIpAddress(previous) && !SameAddress(previous, address)) {
        const std::wstring when = before.size() > previous.size() + 3 ? before.substr(previous.size() + 3) : L"";
        changedFrom_ = L"Before: " + previous + (when.empty() ? L"" : L", logged " + when) + L"\nNow: " + address;
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
