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

void RefreshCycle::Prepare() {
    exchange_.Start([] { WinInet(); });
}

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a cycle that would close this one's handles.
    if (bRunning) return;
    bRunning = true;
    const ScopeExit reset([this] {
        bRunning = false;
        attemptMs_ = 0;
    });
    failures_.clear();
    done_ = false;
    problem_.clear();
    changedFrom_.clear();

    // Each server but the last has its own share of the cycle's time; the
    // last has what is left. One that has not answered within hedgeMs has
    // the next asked beside it; the first address wins, and the requests
    // still under way are left to end within their own time.
    const DWORD started = GetTickCount();
    struct Flight {
        std::shared_ptr<Exchange> x;
        ExchangeThread::Ticket ticket;
    };
    std::vector<Flight> flying;
    size_t next = 0;
    DWORD launched = 0;
    bool answered = false;
    DoEvents();  // the request yields first, and the log's writing last
    while (!answered) {
        const DWORD now = GetTickCount();
        if (next < servers.size() && (flying.empty() || now - launched >= limits.hedgeMs)) {
            server = servers[next++];
            if (now - started >= limits.totalMs) {
                failures_.push_back({ServerUrl(server), L"not asked: the time was up"});
                continue;
            }
            const DWORD left = limits.totalMs - (now - started);
            attemptMs_ = next < servers.size() && limits.perServerMs < left ? limits.perServerMs : left;
            Connect(server.host, "");
            std::shared_ptr<Exchange> x = NewExchange(server.object);
            launched = GetTickCount();
            if (x) flying.push_back({x, exchange_.Begin([x] { RunExchange(*x); })});
            continue;
        }
        if (flying.empty()) break;
        // Until an answer, the next server's turn, or a request's own end.
        DWORD waitMs = next < servers.size() ? launched + limits.hedgeMs - now : limits.totalMs;
        std::vector<ExchangeThread::Ticket> tickets;
        for (const Flight& f : flying) {
            const DWORD end = f.x->started + f.x->waitMs;
            waitMs = std::min<DWORD>(waitMs, static_cast<LONG>(end - now) > 0 ? end - now : 0);
            tickets.push_back(f.ticket);
        }
        const int ended = ExchangeThread::AwaitAny(tickets, waitMs);
        if (ended >= 0) {
            const std::shared_ptr<Exchange> x = flying[static_cast<size_t>(ended)].x;
            flying.erase(flying.begin() + ended);
            answered = Finish(*x);
            continue;
        }
        for (size_t i = 0; i < flying.size();) {
            const Exchange& x = *flying[i].x;
            if (GetTickCount() - x.started < x.waitMs) {
                ++i;
                continue;
            }
            // Its thread still uses its handles: they close when it is done.
            failures_.push_back({ServerUrl(x.server), NoAnswerWithin(x.waitMs)});
            flying.erase(flying.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

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

std::shared_ptr<Exchange> RefreshCycle::NewExchange(const std::string& ScriptName) {
    auto x = std::make_shared<Exchange>();
    x->server = server;
    x->server.object = ScriptName;
    x->limits = limits;
    x->started = GetTickCount();
    x->waitMs = attemptMs_ ? attemptMs_ : limits.totalMs;
    // A run that ends after its one request keeps no connection: a kept one
    // goes to WinInet's pool, whose thread would start as the process ends.
    x->keepAlive = !window_.Silent();
    if (!hConnect) {
        Disconnect();
        failures_.push_back({ServerUrl(x->server), L"no connection could be opened"});
        return nullptr;
    }
    // The exchange's own from here: closed when it is done with them.
    x->session = hSession.get();
    x->connection = hConnect.get();
    x->heldConnection = std::move(hConnect);
    x->heldSession = std::move(hSession);
    return x;
}

bool RefreshCycle::Finish(Exchange& x) {
    // Connection, then session, as Disconnect closes them.
    x.heldConnection.reset();
    x.heldSession.reset();
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

bool RefreshCycle::PostRequest(const std::string& ScriptName) {
    DoEvents();
    const std::shared_ptr<Exchange> x = NewExchange(ScriptName);
    if (!x) return false;
    if (!exchange_.Run([x] { RunExchange(*x); }, x->waitMs)) {
        failures_.push_back({ServerUrl(x->server), NoAnswerWithin(x->waitMs)});
        return false;
    }
    return Finish(*x);
}

void RefreshCycle::LogAddress(const std::wstring& address) {
    window_.SetAddressText(address);
    // The yield before the write lets the window show it.
    const bool withDate = window_.DateState() != 0;
    const std::wstring path = window_.LogPath();
    std::wstring line = window_.AddressText();
    if (withDate) line = log::ComposeLogLine(line, true, log::Clock()());
    const bool overwrite = window_.OverwriteState() != 0;

    DoEvents();
    DWORD error = ERROR_SUCCESS;
    const log::SameFn same = window_.ChangesOnly() ? SameAddress : nullptr;
    std::wstring before;  // the log's last line before this write
    const log::Logged logged =
        log::LogAddress(path, line, window_.AddressText(), overwrite, same, error, window_.Silent() ? nullptr : &before);
    DoEvents();
    done_ = logged != log::Logged::Failed;
    if (!done_) problem_ = (path.empty() ? L"(no path)" : path) + L"\n" + log::DescribeLogError(error);
    // A window says when the address differs from the one logged last.
    const std::wstring previous = log::AddressOfLine(before);
    if (done_ && IsIpAddress(previous) && !SameAddress(previous, address)) {
        const std::wstring when = before.size() > previous.size() + 3 ? before.substr(previous.size() + 3) : L"";
        changedFrom_ = L"Before: " + previous + (when.empty() ? L"" : L", logged " + when) + L"\nNow: " + address;
    }
}

void RefreshCycle::Shutdown() {
    Disconnect();
    exchange_.Stop();
}

}  // namespace quillon::net
