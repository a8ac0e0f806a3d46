#pragma once
#include <memory>
#include <string>
#include <vector>

#include "net/AddressRequest.h"
#include "net/AddressServer.h"
#include "net/ExchangeThread.h"
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

    // The refresh button's action: ask the servers, show and log the first
    // address, say what went wrong otherwise. A click that arrives while a
    // cycle runs is ignored.
    void Command1_Click();

    // Starts the exchange thread and binds WinInet on it, to be ready by
    // the first request while this thread does other work.
    void Prepare();

    // Ends the exchange thread and closes the session, for a program about
    // to end: no thread of its own is left running then.
    void Shutdown();

    // One server: the session and connection, then the request for the
    // page, which shows and logs an address it gets.
    bool Connect(const std::string& ServerName, const std::string& ProxyName);
    void Disconnect();
    bool PostRequest(const std::string& ScriptName);

    RequestLimits limits;
    std::vector<AddressServer> servers;
    AddressServer server;  // the one being asked
    InternetHandle hSession;
    InternetHandle hConnect;

    struct Failure {
        std::wstring url, why;
    };
    // Why each server asked in the last cycle gave no address.
    const std::vector<Failure>& Failures() const { return failures_; }

private:
    // The exchange for the page on the server being asked, with the session
    // and connection handed to it; none (the failure noted) without them.
    std::shared_ptr<Exchange> NewExchange(const std::string& ScriptName);
    // Closes an ended exchange's handles and logs its address; false, the
    // failure noted, when it gave none.
    bool Finish(Exchange& x);
    void LogAddress(const std::wstring& address);

    WindowState& window_;
    ExchangeThread exchange_;
    bool bRunning = false;
    DWORD attemptMs_ = 0;  // the current server's time, within the cycle's
    bool done_ = false;    // logged, or found unchanged
    std::wstring problem_;  // why the log was not written
    std::wstring changedFrom_;  // what the window says of a changed address
    std::vector<Failure> failures_;
};

// The program's file name without folder and extension.
std::string UserAgent();

}  // namespace quillon::net
