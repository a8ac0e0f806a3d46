#pragma once
#include <memory>
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
    std::string proxy;      // the refresh's; "" for the system's
    AddressServer server;  // the one being asked
    InternetHandle hSession;
    InternetHandle hConnect;

    struct Failure {
        std::wstring url, why;
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
    void AwaitFlights(Round& round);
    void SweepOverdue(Round& round);
    void Report(bool answered);

    // The exchange for the page on the server being asked, with the session
    // and connection handed to it; none (the failure noted) without them.
    std::shared_ptr<Exchange> NewExchange(const std::string& ScriptName, DWORD waitMs);
    // Closes an ended exchange's handles and logs its address; false, the
    // failure noted, when it gave none.
    bool Finish(Exchange& x);
    void LogAddress(const std::wstring& address);

    WindowState& window_;
    ExchangePool pool_{kMaxInFlight};
    std::vector<Flight> live_;  // every request whose thread has not returned
    bool bRunning = false;
    bool shutDown_ = false;
    bool done_ = false;    // logged, or found unchanged
    std::wstring problem_;  // why the log was not written
    std::wstring changedFrom_;  // what the window says of a changed address
    std::vector<Failure> failures_;
};

// The program's file name without folder and extension.
std::string UserAgent();

}  // namespace quillon::net
