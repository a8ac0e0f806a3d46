#include "net/AddressRequest.h"

#include <cstddef>
#include <vector>

#include "common/ModulePath.h"
#include "common/Text.h"

namespace quillon::net {
namespace {

// Nothing but the request itself: no cookies sent or kept, no dialog.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
constexpr char kCloseHeader[] = "Connection: close\r\n";
constexpr DWORD kChunk = 1024;

bool QueryNumber(HINTERNET request, DWORD query, DWORD& value) {
    DWORD size = sizeof value, index = 0;
    return WinInet().HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index);
}

std::string QueryText(HINTERNET request, DWORD query) {
    std::vector<char> text(1024);
    for (int tries = 0; tries < 2; ++tries) {
        DWORD size = static_cast<DWORD>(text.size()), index = 0;
        if (WinInet().HttpQueryInfoA(request, query, text.data(), &size, &index)) return std::string(text.data(), size);
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size > 64 * 1024) break;
        text.resize(size + 1);
    }
    return {};
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool Overdue(const Exchange& x) { return GetTickCount() - x.started > x.waitMs; }

// The cycle stopped waiting and closed the handles: no further call.
bool Stopped(Exchange& x) {
    if (!x.handles.Closed()) return false;
    x.why = L"stopped";
    return true;
}

// A synchronous read may wait until its buffer is full, so read only what
// has arrived, and look at the clock between reads.
void ReadBody(Exchange& x, HINTERNET request) {
    DWORD contentLength = 0;
    bool hasLength = false;
    if (!x.handles.Use([&] { hasLength = QueryNumber(request, HTTP_QUERY_CONTENT_LENGTH, contentLength); }))
        return;
    if (hasLength && contentLength > x.limits.maxBodyBytes) {
        x.why = L"the answer was too long";
        return;
    }
    while (!Overdue(x)) {
        DWORD available = 0, error = 0;
        bool queried = false;
        if (!x.handles.Blocking(request, [&] {
                queried = WinInet().InternetQueryDataAvailable(request, &available, 0, 0);
                error = GetLastError();
            }))
            return void(Stopped(x));
        if (Stopped(x)) return;
        if (!queried) {
            x.why = DescribeError(error);
            return;
        }
        if (available == 0) break;
        char buffer[kChunk];
        DWORD n = 0;
        const DWORD want = available < kChunk ? available : kChunk;
        bool read = false;
        if (!x.handles.Blocking(request, [&] {
                read = WinInet().InternetReadFile(request, buffer, want, &n);
                error = GetLastError();
            }))
            return void(Stopped(x));
        if (Stopped(x)) return;
        if (!read) {
            x.why = DescribeError(error);
            return;
        }
        if (n == 0) break;
        x.body.append(buffer, n);
        if (x.body.size() > x.limits.maxBodyBytes) {
            x.why = L"the answer was too long";
            return;
        }
        // All the server announced has come: no need to ask for more.
        if (hasLength && x.body.size() == contentLength) {
            x.answered = true;
            return;
        }
    }
    if (Overdue(x))
        x.why = NoAnswerWithin(x.waitMs);
    else if (hasLength)
        x.why = L"the answer was cut off";
    else
        x.answered = true;
}

}  // namespace

std::string UserAgent() {
    std::wstring name = ModulePath();
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return ToAnsi(name);
}

void SetTimeouts(HINTERNET h, const RequestLimits& limits) {
    DWORD timeout = limits.timeoutMs, retries = 1;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        WinInet().InternetSetOptionA(h, option, &timeout, sizeof timeout);
    WinInet().InternetSetOptionA(h, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
}

std::wstring NoAnswerWithin(DWORD ms) { return L"no answer within " + std::to_wstring((ms + 999) / 1000) + L" s"; }

bool Unreached(DWORD error) {
    return error == ERROR_INTERNET_NAME_NOT_RESOLVED || error == ERROR_INTERNET_CANNOT_CONNECT ||
           error == ERROR_INTERNET_TIMEOUT;
}

std::wstring DescribeError(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_NAME_NOT_RESOLVED:
            return L"the name was not found";
        case ERROR_INTERNET_CANNOT_CONNECT:
            return L"no connection could be made";
        case ERROR_INTERNET_TIMEOUT:
            return L"no answer in time";
        case ERROR_INTERNET_CONNECTION_ABORTED:
        case ERROR_INTERNET_CONNECTION_RESET:
            return L"the connection was cut";
        case ERROR_HTTP_INVALID_SERVER_RESPONSE:
            return L"the answer was not HTTP";
        case ERROR_INTERNET_INVALID_CA:
            return L"the secure connection failed: the certificate is not trusted";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            return L"the secure connection failed: the certificate is for another name";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            return L"the secure connection failed: the certificate has expired";
        case ERROR_INTERNET_SEC_CERT_REVOKED:
            return L"the secure connection failed: the certificate was revoked";
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
        case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
            // Often TLS 1.2 switched off in Internet Options on an older Windows.
            return L"the secure connection failed (is TLS 1.2 on in Internet Options?)";
        default:
            return L"the request failed (error " + std::to_wstring(error) + L")";
    }
}

void RunExchange(Exchange& x) {
    AddressServer at = x.server;
    HINTERNET connection = x.connection;
    HINTERNET ownConnection = nullptr;  // after a redirect to another server
    // Whatever the way out, what this opened is closed here unless the
    // cycle has closed it already.
    struct Opened {
        RequestHandles& handles;
        HINTERNET request = nullptr, connection = nullptr;
        ~Opened() {
            handles.Close(request);
            handles.Close(connection);
        }
    } opened{x.handles};
    for (int hop = 0;; ++hop) {
        const DWORD flags =
            kRequestFlags | (at.secure ? INTERNET_FLAG_SECURE : 0) | (x.keepAlive ? INTERNET_FLAG_KEEP_CONNECTION : 0);
        HINTERNET request = x.handles.Open([&] {
            HINTERNET h =
                WinInet().HttpOpenRequestA(connection, nullptr, at.object.c_str(), "HTTP/1.1", "", nullptr, flags, 0);
            if (h) SetTimeouts(h, x.limits);
            return h;
        });
        opened.request = request;
        if (Stopped(x)) return;
        if (!request) {
            x.why = L"no request could be made";
            return;
        }
        bool sent = false;
        DWORD sendError = 0;
        // The page's own headers (its credentials) go to its own server alone,
        // never to one a redirect leads to.
        const bool origin = at.host == x.server.host && at.port == x.server.port && at.secure == x.server.secure;
        const std::string headers = (x.keepAlive ? "" : kCloseHeader) + (origin ? x.headers : "");
        if (!x.handles.Blocking(request, [&] {
                sent = WinInet().HttpSendRequestA(request, headers.empty() ? nullptr : headers.c_str(),
                                                  static_cast<DWORD>(headers.size()), nullptr, 0);
                sendError = GetLastError();
            }))
            return void(Stopped(x));
        if (Stopped(x)) return;
        if (!sent) {
            x.error = sendError;
            x.why = DescribeError(sendError);
            return;
        }
        x.replied = true;
        DWORD status = 0;
        bool hasStatus = false;
        std::string location;
        if (!x.handles.Use([&] {
                hasStatus = QueryNumber(request, HTTP_QUERY_STATUS_CODE, status);
                if (hasStatus && IsRedirect(status)) location = QueryText(request, HTTP_QUERY_LOCATION);
            }))
            return void(Stopped(x));
        if (!hasStatus) {
            x.why = L"the answer was not HTTP";
            return;
        }
        x.status = status;
        if (!IsRedirect(status)) {
            if (status < 200 || status > 299)
                x.why = L"the server answered " + std::to_wstring(status);
            else
                ReadBody(x, request);
            return;
        }
        // Followed here, one hop at a time: a page asked over HTTPS must
        // not take its answer from a plain HTTP page on the way.
        if (location.empty()) {
            x.why = L"it answered " + std::to_wstring(status) + L" without saying where to";
            return;
        }
        const std::optional<AddressServer> next = RedirectTarget(at, location);
        if (!next) {
            x.why = L"it redirected to a page that cannot be asked";
            return;
        }
        if (at.secure && !next->secure) {
            x.why = L"it redirected to " + ServerUrl(*next) + L", which is not https://";
            return;
        }
        if (hop == x.limits.maxRedirects) {
            x.why = L"it redirected more than " + std::to_wstring(x.limits.maxRedirects) + L" times";
            return;
        }
        if (Overdue(x)) {
            x.why = NoAnswerWithin(x.waitMs);
            return;
        }
        // Before a connection it came from may close.
        x.handles.Close(request);
        opened.request = nullptr;
        if (next->host != at.host || next->port != at.port) {
            HINTERNET previous = ownConnection;
            ownConnection = x.handles.Open([&] {
                return WinInet().InternetConnectA(x.session, next->host.c_str(), next->port, "", "",
                                                  INTERNET_SERVICE_HTTP, 0, 0);
            });
            x.handles.Close(previous);
            opened.connection = ownConnection;
            if (Stopped(x)) return;
            if (!ownConnection) {
                x.why = L"no connection could be made";
                return;
            }
            connection = ownConnection;
        }
        at = *next;
    }
}

bool RequestHandles::Add(HINTERNET h) {
    if (!h) return false;
    if (Open([h] { return h; })) return true;
    CloseInternetHandle(h);
    return false;
}

void RequestHandles::CloseHeld(std::vector<Held>::iterator it) {
    if (it->calls > 0) {
        it->closing = true;
        return;
    }
    CloseInternetHandle(it->h);
    open_.erase(it);
}

void RequestHandles::Close(HINTERNET h) {
    if (!h) return;
    AcquireSRWLockExclusive(&lock_);
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->h == h) {
            if (!it->closing) CloseHeld(it);
            break;
        }
    ReleaseSRWLockExclusive(&lock_);
}

void RequestHandles::CloseAll() {
    AcquireSRWLockExclusive(&lock_);
    closed_ = true;
    // The newest first: a request before its connection, that before its session.
    for (size_t i = open_.size(); i-- > 0;)
        if (!open_[i].closing) CloseHeld(open_.begin() + static_cast<std::ptrdiff_t>(i));
    ReleaseSRWLockExclusive(&lock_);
}

bool RequestHandles::Enter(HINTERNET h) {
    AcquireSRWLockExclusive(&lock_);
    bool entered = false;
    if (!closed_)
        for (Held& held : open_)
            if (held.h == h && !held.closing) {
                ++held.calls;
                entered = true;
                break;
            }
    ReleaseSRWLockExclusive(&lock_);
    return entered;
}

void RequestHandles::Leave(HINTERNET h) {
    // The call's own error, not the close's.
    const DWORD error = GetLastError();
    AcquireSRWLockExclusive(&lock_);
    for (auto it = open_.begin(); it != open_.end(); ++it)
        if (it->h == h) {
            if (--it->calls == 0 && it->closing) {
                CloseInternetHandle(h);
                open_.erase(it);
            }
            break;
        }
    ReleaseSRWLockExclusive(&lock_);
    SetLastError(error);
}

bool RequestHandles::Closed() const {
    AcquireSRWLockShared(&lock_);
    const bool closed = closed_;
    ReleaseSRWLockShared(&lock_);
    return closed;
}

}  // namespace quillon::net
