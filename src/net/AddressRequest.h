#pragma once
// One server asked for the address, on a request thread: the request
// from its opening to its closing, redirects followed one hop at a time.
#include <atomic>
#include <memory>
#include <string>
#include <vector>

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

// The WinInet handles of one request: the session and connection the cycle
// opened for it, and whatever the exchange opens. Each is closed exactly
// once: by the exchange when it is done with it, or by the cycle when it
// stops waiting, whichever comes first. Once the cycle has closed them, the
// exchange makes no further call on any. A handle with a blocking call on
// it is never closed under that call (its value could be handed out again
// while the call still uses it): the close is left to the call's return,
// and the cycle does not wait for it (under Wine a close does not end the
// call).
class RequestHandles {
public:
    RequestHandles() = default;
    ~RequestHandles() { CloseAll(); }
    RequestHandles(const RequestHandles&) = delete;
    RequestHandles& operator=(const RequestHandles&) = delete;

    // Held from now on; false, and closed at once, once CloseAll has run.
    bool Add(HINTERNET h);
    // Opens a handle with a call that returns at once, and holds it; null
    // without the call once closed.
    template <class Call>
    HINTERNET Open(Call call) {
        HINTERNET h = nullptr;
        Use([&] {
            h = call();
            if (h) open_.push_back({h});
        });
        return h;
    }
    // Runs a call on h that may block, outside the lock, with h held open
    // until it returns; false, not run, once h is closed.
    template <class Call>
    bool Blocking(HINTERNET h, Call call) {
        if (!Enter(h)) return false;
        call();
        Leave(h);
        return true;
    }
    // Closes one, if it is still held.
    void Close(HINTERNET h);
    void CloseAll();
    bool Closed() const;
    // Runs a call that returns at once under the lock, so that no close
    // comes between the look and the call; false, not run, once closed.
    template <class Call>
    bool Use(Call call) {
        AcquireSRWLockExclusive(&lock_);
        const bool open = !closed_;
        if (open) call();
        ReleaseSRWLockExclusive(&lock_);
        return open;
    }

private:
    struct Held {
        HINTERNET h;
        int calls = 0;         // blocking calls under way on it
        bool closing = false;  // closed meanwhile: the last call closes it
    };
    bool Enter(HINTERNET h);
    void Leave(HINTERNET h);
    // Under the lock: closes it now, or marks it for its call to close.
    void CloseHeld(std::vector<Held>::iterator it);

    mutable SRWLOCK lock_ = SRWLOCK_INIT;
    std::vector<Held> open_;
    bool closed_ = false;
};

// What the cycle hands a request thread, and what comes back, read by
// the cycle once the exchange is done.
struct Exchange {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    RequestHandles handles;  // both of those, and the exchange's own
    AddressServer server;
    RequestLimits limits;
    DWORD started = 0;
    DWORD waitMs = 0;
    bool keepAlive = true;  // false: the connection closes with the request
    std::string headers;    // sent to the first page's server only, each ending in CRLF

    bool answered = false;  // a 2xx reply whose whole body is in
    std::atomic<bool> replied{false};  // the server answered in HTTP at all
    DWORD error = ERROR_SUCCESS;       // why the request could not be sent
    DWORD status = 0;                  // the last answer's HTTP status
    std::string body;
    std::wstring why;  // in a few words, when there is no answer
};

void RunExchange(Exchange& x);

// The program's file name without folder and extension, as the requests' agent.
std::string UserAgent();

// Sets WinInet's time-outs on a handle.
void SetTimeouts(HINTERNET h, const RequestLimits& limits);

// An error that says no connection reached the server: its name not
// found, the connection refused or unanswered.
bool Unreached(DWORD error);

// A WinInet or Windows error in a few words for the user.
std::wstring DescribeError(DWORD error);
// What a page that took all its time is said to have done.
std::wstring NoAnswerWithin(DWORD ms);

}  // namespace quillon::net
