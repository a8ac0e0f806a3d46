#pragma once
// One server asked for the address, on the exchange thread: the request
// from its opening to its closing, redirects followed one hop at a time.
#include <memory>
#include <string>

#include "net/AddressServer.h"
#include "net/WinInetApi.h"

namespace quillon::net {

// Limits that keep a cycle from hanging on a bad server.
struct RequestLimits {
    DWORD timeoutMs = 10000;     // connect, send and receive, each
    DWORD perServerMs = 10000;   // a server with another after it
    DWORD hedgeMs = 1500;        // no answer by then: the next server is asked as well
    DWORD totalMs = 40000;       // every server, name lookups and redirects included
    size_t maxBodyBytes = 64 * 1024;
    int maxRedirects = 5;
};

// What the cycle hands the exchange thread, and what comes back. The
// session and connection stay the cycle's; when the cycle stops waiting,
// it hands them over (held*), and they close when the exchange is done.
struct Exchange {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    AddressServer server;
    RequestLimits limits;
    DWORD started = 0;
    DWORD waitMs = 0;
    bool keepAlive = true;  // false: the connection closes with the request

    bool answered = false;  // a 2xx reply whose whole body is in
    std::string body;
    std::wstring why;  // in a few words, when there is no answer

    InternetHandle heldConnection, heldSession;
};

void RunExchange(Exchange& x);

// Sets WinInet's time-outs on a handle.
void SetTimeouts(HINTERNET h, const RequestLimits& limits);

// A WinInet or Windows error in a few words for the user.
std::wstring DescribeError(DWORD error);
// What a page that took all its time is said to have done.
std::wstring NoAnswerWithin(DWORD ms);

}  // namespace quillon::net
