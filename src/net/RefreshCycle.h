#pragma once
#include <string>

#include "net/AddressServer.h"
#include "net/WinInetApi.h"
#include "net/WindowState.h"

namespace quillon::net {

// Limits that keep a cycle from hanging on a bad server. The whole
// exchange ends within totalMs, which leaves a silent run, limited to a
// minute, ample time to write its line.
struct RequestLimits {
    DWORD timeoutMs = 10000;  // connect, send and receive, each
    DWORD totalMs = 40000;    // name lookup, connect, send, headers and body
    size_t maxBodyBytes = 64 * 1024;
};

// The web session of one main window and its refresh cycle.
class RefreshCycle {
public:
    RefreshCycle(WindowState& window, AddressServer server);
    // The built-in server on the given host.
    RefreshCycle(WindowState& window, std::string serverName);

    // The refresh button's action: connect, request the address page, log
    // it, disconnect. A click that arrives while a cycle runs is ignored.
    void Command1_Click();

    bool Connect(const std::string& ServerName, const std::string& ProxyName);
    void Disconnect();
    bool PostRequest(const std::string& ScriptName);

    RequestLimits limits;
    AddressServer server;
    InternetHandle hSession;
    InternetHandle hConnect;
    InternetHandle hRequest;

private:
    void SetTimeouts(HINTERNET h) const;

    WindowState& window_;
    bool bRunning = false;
};

// The program's file name without folder and extension.
std::string UserAgent();

}  // namespace quillon::net
