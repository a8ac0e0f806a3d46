#include "net/AddressFetch.h"

#include <algorithm>
#include <utility>

#include "common/DoEvents.h"
#include "common/ModulePath.h"
#include "common/Text.h"
#include "net/AddressText.h"

namespace quillon::net {
namespace {

bool Due(DWORD at, DWORD now) { return static_cast<LONG>(now - at) >= 0; }
DWORD Until(DWORD at, DWORD now) { return Due(at, now) ? 0 : at - now; }

}  // namespace

struct AddressFetch::Round {
    Family family = kIpv4;
    std::vector<AddressServer> servers;  // asked in order
    DWORD started = GetTickCount();
    size_t next = 0;   // the next server to ask
    DWORD nextAt = 0;  // when it is asked beside those under way
    std::vector<Request> awaited;  // this round's requests still waited for
    bool answered = false;
};

AddressFetch::AddressFetch(std::vector<AddressServer> servers, std::vector<AddressServer> servers6)
    : servers(std::move(servers)), servers6(std::move(servers6)) {
    if (!this->servers.empty()) server = this->servers.front();
}

AddressFetch::~AddressFetch() { Shutdown(0); }

void AddressFetch::Prepare() {
    pool_.Start([] { WinInet(); });
}

AddressFetch::Found AddressFetch::Fetch(bool ipv6, bool keepAlive, Listener& listener) {
    Found found;
    keepAlive_ = keepAlive;
    // Each family's servers but the last have their own share of the
    // fetch's time; the last has what is left. One that has not answered
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
    DoEvents();  // the request yields first
    // A hedge's time after one family's address, the listener hears that
    // the other is still asked for; once.
    std::optional<DWORD> stillAskingAt;
    bool stillAskingSaid = false;
    while (!shutDown_) {
        bool launched = false, awaiting = false;
        for (Round& r : rounds)
            if (!r.answered) launched = LaunchDue(r, found) || launched;
        if (launched) continue;
        for (const Round& r : rounds) awaiting = awaiting || !r.awaited.empty();
        if (!awaiting) break;
        if (!stillAskingAt && std::any_of(rounds.begin(), rounds.end(), [](const Round& r) { return r.answered; }))
            stillAskingAt = GetTickCount() + limits.hedgeMs;
        if (stillAskingAt && !stillAskingSaid && Due(*stillAskingAt, GetTickCount())) {
            stillAskingSaid = true;
            listener.StillAsking();
            continue;
        }
        AwaitAnswers(rounds, found, stillAskingSaid ? std::nullopt : stillAskingAt, listener);
    }
    for (Round& r : rounds)
        for (Request& q : r.awaited) q.x->handles.CloseAll();
    found.stopped = shutDown_;
    return found;
}

// The next server, where none is under way, its turn has come or the one
// before failed outright; false when none is due.
bool AddressFetch::LaunchDue(Round& r, Found& found) {
    const DWORD now = GetTickCount();
    if (r.next >= r.servers.size() || (!r.awaited.empty() && !Due(r.nextAt, now))) return false;
    server = r.servers[r.next++];
    if (now - r.started >= limits.totalMs) {
        found.failures.push_back({ServerUrl(server), L"not asked: the time was up", r.family, false});
        return true;
    }
    const DWORD left = limits.totalMs - (now - r.started);
    const DWORD waitMs = r.next < r.servers.size() && limits.perServerMs < left ? limits.perServerMs : left;
    r.nextAt = PostRequest(r, found, waitMs) ? GetTickCount() + limits.hedgeMs : now;
    return true;
}

// The server being asked, on a request thread; false, the failure noted,
// where it is passed over or no request could be made.
bool AddressFetch::PostRequest(Round& r, Found& found, DWORD waitMs) {
    const size_t unfinished = Unfinished();
    const std::wstring url = ServerUrl(server);
    const auto fail = [&](const std::wstring& why) {
        found.failures.push_back({url, why, r.family, true});
        return false;
    };
    for (const Request& q : unfinished_)
        if (ServerUrl(q.x->server) == url) return fail(L"not asked: its request from an earlier refresh is still under way");
    if (unfinished >= kMaxInFlight)
        return fail(L"not asked: " + std::to_wstring(unfinished) + L" requests are still under way");
    Connect(server.host, proxy);
    const std::shared_ptr<Exchange> x = NewExchange(server.object, waitMs);
    if (!x) return fail(L"no connection could be opened");
    const ExchangePool::Ticket ticket = pool_.Begin([x] { RunExchange(*x); });
    if (!ticket) {
        x->handles.CloseAll();
        return fail(L"not asked: no thread could be started");
    }
    unfinished_.push_back({x, ticket});
    r.awaited.push_back({x, ticket});
    return true;
}

void AddressFetch::AwaitAnswers(std::vector<Round>& rounds, Found& found, std::optional<DWORD> until,
                                Listener& listener) {
    const DWORD now = GetTickCount();
    DWORD waitMs = until ? Until(*until, now) : limits.totalMs;
    std::vector<ExchangePool::Ticket> tickets;
    std::vector<std::pair<Round*, size_t>> whose;
    for (Round& r : rounds) {
        if (r.answered) continue;
        if (r.next < r.servers.size()) waitMs = std::min(waitMs, Until(r.nextAt, now));
        for (size_t i = 0; i < r.awaited.size(); ++i) {
            waitMs = std::min(waitMs, Until(r.awaited[i].x->started + r.awaited[i].x->waitMs, now));
            tickets.push_back(r.awaited[i].ticket);
            whose.emplace_back(&r, i);
        }
    }
    const int ended = pool_.AwaitAny(tickets, waitMs);
    if (ended < 0) {
        for (Round& r : rounds) SweepOverdue(r, found);
        return;
    }
    Round& r = *whose[static_cast<size_t>(ended)].first;
    const size_t i = whose[static_cast<size_t>(ended)].second;
    const std::shared_ptr<Exchange> x = r.awaited[i].x;
    r.awaited.erase(r.awaited.begin() + static_cast<std::ptrdiff_t>(i));
    r.answered = Finish(r, found, *x, listener);
    if (!r.answered) {
        r.nextAt = GetTickCount();  // a failure is passed over at once
        return;
    }
    // Those the answer outran end here, not in their own time.
    for (Request& q : r.awaited) q.x->handles.CloseAll();
    r.awaited.clear();
}

// Requests past their time: said, and their handles closed.
void AddressFetch::SweepOverdue(Round& r, Found& found) {
    for (size_t i = 0; i < r.awaited.size();) {
        Exchange& x = *r.awaited[i].x;
        if (GetTickCount() - x.started < x.waitMs) {
            ++i;
            continue;
        }
        found.failures.push_back({ServerUrl(x.server), NoAnswerWithin(x.waitMs), r.family, x.replied});
        x.handles.CloseAll();
        r.awaited.erase(r.awaited.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

size_t AddressFetch::Unfinished() {
    std::erase_if(unfinished_, [this](const Request& q) { return pool_.Done(q.ticket); });
    return unfinished_.size();
}

bool AddressFetch::Connect(const std::string& ServerName, const std::string& ProxyName) {
    const std::string agent = UserAgent();
    HINTERNET session =
        ProxyName.empty()
            ? WinInet().InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0)
            : WinInet().InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY, ProxyName.c_str(), "", 0);
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

void AddressFetch::Disconnect() {
    // Connection, session; each field is cleared as it closes. The request
    // is the exchange's own, closed where it was opened.
    hConnect.reset();
    hSession.reset();
}

std::shared_ptr<Exchange> AddressFetch::NewExchange(const std::string& ScriptName, DWORD waitMs) {
    auto x = std::make_shared<Exchange>();
    x->server = server;
    x->server.object = ScriptName;
    x->limits = limits;
    x->started = GetTickCount();
    x->waitMs = waitMs;
    // A run that ends after its one request keeps no connection: a kept one
    // goes to WinInet's pool, whose thread would start as the process ends.
    x->keepAlive = keepAlive_;
    if (!hConnect) {
        Disconnect();
        return nullptr;
    }
    // The exchange's own from here, closed once by it or by this fetch.
    x->session = hSession.get();
    x->connection = hConnect.get();
    x->handles.Add(hSession.release());
    x->handles.Add(hConnect.release());
    return x;
}

bool AddressFetch::Finish(Round& r, Found& found, Exchange& x, Listener& listener) {
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
        found.failures.push_back({ServerUrl(x.server), why, r.family,
                                  x.replied || (x.error != ERROR_SUCCESS && !Unreached(x.error))});
        return false;
    }
    found.address[r.family] = address;
    listener.Found(r.family, address);
    return true;
}

bool AddressFetch::Shutdown(DWORD waitMs) {
    shutDown_ = true;
    Disconnect();
    for (const Request& q : unfinished_) q.x->handles.CloseAll();
    unfinished_.clear();
    return pool_.Stop(waitMs);
}

}  // namespace quillon::net
