#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/AddressRequest.h"
#include "net/AddressServer.h"
#include "net/ExchangePool.h"
#include "net/WinInetApi.h"
#include "net/WindowState.h"

namespace quillon::net {

// The web session of one main window and its refresh cycle.
class RefreshCycle {
public:
    // The servers are asked in order until one answers with an address.
    RefreshCycle(WindowState& window, std::vector<AddressServer> servers);
    // The built-in servers for the given host (none: the public services).
    RefreshCycle(WindowState& window, const std::string& builtInHost);
    ~RefreshCycle();
    RefreshCycle(const RefreshCycle&) = delete;
    RefreshCycle& operator=(const RefreshCycle&) = delete;

    // The refresh button's action: ask the servers, show and log the first
    // address, say what went wrong otherwise. A click that arrives while a
    // cycle runs is ignored.
    void Command1_Click();
    bool Running() const { return bRunning; }

    // Starts a request thread and binds WinInet on it, to be ready by the
    // first request while this thread does other work.
    void Prepare();

    // For a program about to end: closes every request still under way,
    // this refresh's and earlier ones', and the session, then waits up to
    // waitMs for the request threads to end. False when one was still in a
    // call that its closed handles did not end (Wine ends none).
    bool Shutdown(DWORD waitMs = 1000);

    // The session and connection for the server being asked, through the
    // given proxy ("" for the system's).
    bool Connect(const std::string& ServerName, const std::string& ProxyName);
    void Disconnect();

    // Requests whose threads have not returned yet, outrun or overdue ones
    // included.
    size_t InFlight();

    RequestLimits limits;
    std::vector<AddressServer> servers;
    // Ask for the IPv6 address as well, from servers6, side by side with
    // the IPv4 one; servers are then asked for IPv4 alone.
    bool ipv6 = false;
    std::vector<AddressServer> servers6;
    std::string proxy;      // the refresh's; "" for the system's
    AddressServer server;  // the one being asked
    InternetHandle hSession;
    InternetHandle hConnect;

    enum Family : int { kIpv4, kIpv6 };  // kIpv4 is also the one address without ipv6
    struct Failure {
        std::wstring url, why;
        Family family = kIpv4;
        bool reached = true;  // false: no connection reached the server
    };
    // Why each server asked in the last cycle gave no address.
    const std::vector<Failure>& Failures() const { return failures_; }

    // At most this many requests are under way at once, and at most one
    // for each server, counting those that earlier refreshes stopped
    // waiting for and whose threads are still in WinInet.
    static constexpr size_t kMaxInFlight = 4;

private:
    struct Flight {
        std::shared_ptr<Exchange> x;
        ExchangePool::Ticket ticket;
    };
    struct Round;  // one refresh's servers, asked or still to ask

    // The steps of one refresh.
    bool LaunchDue(Round& round);
    bool PostRequest(Round& round, DWORD waitMs);
    void AwaitFlights(std::vector<Round>& rounds);
    void SweepOverdue(Round& round);
    void LogAddresses(const std::vector<Round>& rounds);
    void Report(const std::vector<Round>& rounds);
    // Why a family gave no address, a line for each server; "" when it gave one.
    std::wstring FailureText(const Round& round) const;
    void Fail(const Round& round, const std::wstring& url, const std::wstring& why, bool reached);

    // The exchange for the page on the server being asked, with the session
    // and connection handed to it; none (the failure noted) without them.
    std::shared_ptr<Exchange> NewExchange(const std::string& ScriptName, DWORD waitMs);
    // Closes an ended exchange's handles and shows its address; false, the
    // failure noted, when it gave none.
    bool Finish(Round& round, Exchange& x);
    // Text1: the one address, or each family's last one, IPv4 first.
    std::wstring ShownText() const;

    WindowState& window_;
    ExchangePool pool_{kMaxInFlight};
    std::vector<Flight> live_;  // every request whose thread has not returned
    bool bRunning = false;
    bool shutDown_ = false;
    int exitCode_ = 1;      // a silent run's: 0 logged or found unchanged, 3 one family of two, 1 none
    std::wstring problem_;  // why the log was not written
    std::wstring changedFrom_;  // what the window says of a changed address
    std::vector<Failure> failures_;
    std::wstring shown_[2];  // what Text1 shows of each family
    DWORD stillAskingAt_ = 0;  // when the window hears that a family is awaited; 1: it has
};

// The program's file name without folder and extension.
std::string UserAgent();

}  // namespace quillon::net
