#include "net/RefreshCycle.h"

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

    // Each server but the last has its own share of the cycle's time; the
    // last has what is left.
    const DWORD started = GetTickCount();
    bool answered = false;
    for (size_t i = 0; i < servers.size() && !answered; ++i) {
        server = servers[i];
        const DWORD elapsed = GetTickCount() - started;
        if (elapsed >= limits.totalMs) {
            failures_.push_back({ServerUrl(server), L"not asked: the time was up"});
            continue;
        }
        const DWORD left = limits.totalMs - elapsed;
        attemptMs_ = i + 1 < servers.size() && limits.perServerMs < left ? limits.perServerMs : left;
        // The request yields first, and the log's writing last.
        Connect(server.host, "");
        answered = PostRequest(server.object);
        Disconnect();
    }

    using Problem = WindowState::Problem;
    if (!answered) {
        std::wstring text;
        for (const Failure& f : failures_) text += (text.empty() ? L"" : L"\n") + f.url + L": " + f.why;
        window_.ShowProblem(Problem::NoAddress, text);
    } else {
        window_.ShowProblem(done_ ? Problem::None : Problem::LogNotWritten, problem_);
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

bool RefreshCycle::PostRequest(const std::string& ScriptName) {
    DoEvents();
    auto x = std::make_shared<Exchange>();
    x->session = hSession.get();
    x->connection = hConnect.get();
    x->server = server;
    x->server.object = ScriptName;
    x->limits = limits;
    x->started = GetTickCount();
    x->waitMs = attemptMs_ ? attemptMs_ : limits.totalMs;
    // A run that ends after its one request keeps no connection: a kept one
    // goes to WinInet's pool, whose thread would start as the process ends.
    x->keepAlive = !window_.Silent();

    bool answered = false;
    std::wstring why, address;
    if (!hConnect) {
        why = L"no connection could be opened";
    } else if (exchange_.Run([x] { RunExchange(*x); }, x->waitMs)) {
        answered = x->answered;
        why = x->why;
        if (answered) address = TrimReply(FromAnsi(x->body));
    } else {
        // The thread still uses them: they close when it is done with them.
        x->heldConnection = std::move(hConnect);
        x->heldSession = std::move(hSession);
        why = NoAnswerWithin(x->waitMs);
    }
    if (answered && !IsIpAddress(address)) {
        answered = false;
        why = L"the answer was not an address";
    } else if (answered && server.ipv4Only && !IsIpv4Address(address)) {
        answered = false;
        why = L"the answer was an IPv6 address, not IPv4";
    }
    if (!answered) {
        failures_.push_back({ServerUrl(x->server), why});
        return false;
    }
    LogAddress(address);
    return true;
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
    const log::Logged logged = log::LogAddress(path, line, window_.AddressText(), overwrite, same, error);
    DoEvents();
    done_ = logged != log::Logged::Failed;
    if (!done_) problem_ = (path.empty() ? L"(no path)" : path) + L"\n" + log::DescribeLogError(error);
}

void RefreshCycle::Shutdown() {
    Disconnect();
    exchange_.Stop();
}

}  // namespace quillon::net
