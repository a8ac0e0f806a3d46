#include "net/RefreshCycle.h"

#include <memory>
#include <utility>

#include "common/DoEvents.h"
#include "common/ModulePath.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "log/LogLine.h"
#include "log/LogWriter.h"
#include "net/AddressText.h"

namespace quillon::net {
namespace {

constexpr DWORD kRequestFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                                INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE;
constexpr DWORD kChunk = 1024;

bool QueryNumber(HINTERNET request, DWORD query, DWORD& value) {
    DWORD size = sizeof value, index = 0;
    return WinInet().HttpQueryInfoA(request, query | HTTP_QUERY_FLAG_NUMBER, &value, &size, &index);
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

RefreshCycle::RefreshCycle(WindowState& window, AddressServer server) : server(std::move(server)), window_(window) {}

RefreshCycle::RefreshCycle(WindowState& window, std::string serverName)
    : RefreshCycle(window, BuiltInServer(std::move(serverName))) {}

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a cycle that would close this one's handles.
    if (bRunning) return;
    bRunning = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{bRunning};

    Connect(server.host, "");
    DoEvents();
    PostRequest(server.object);
    DoEvents();
    Disconnect();
}

void RefreshCycle::SetTimeouts(HINTERNET h) const {
    DWORD timeout = limits.timeoutMs, retries = 1;
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        WinInet().InternetSetOptionA(h, option, &timeout, sizeof timeout);
    WinInet().InternetSetOptionA(h, INTERNET_OPTION_CONNECT_RETRIES, &retries, sizeof retries);
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
    SetTimeouts(session);

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
    // Request, connection, session; each field is cleared as it closes.
    hRequest.reset();
    hConnect.reset();
    hSession.reset();
}

namespace {

// One exchange with the server: what the thread that waits on the network
// hands back. Shared, so that a thread still blocked after its time is up
// writes only into what it holds itself.
struct Exchange {
    HINTERNET request = nullptr;
    bool secure = false;
    RequestLimits limits;
    DWORD started = GetTickCount();
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool sent = false;
    bool complete = false;  // a 2xx reply whose whole body is in
    std::string body;
    ~Exchange() {
        if (done) CloseHandle(done);
    }
    bool Overdue() const { return GetTickCount() - started > limits.totalMs; }
};

// Where the reply came from after any redirect: WinInet follows one from
// HTTPS to plain HTTP without a word, and such a reply proves nothing.
bool CameOverHttps(HINTERNET request) {
    char url[4096];
    DWORD size = sizeof url;
    return WinInet().InternetQueryOptionA(request, INTERNET_OPTION_URL, url, &size) &&
           _strnicmp(url, "https://", 8) == 0;
}

bool ReadReply(Exchange& x) {
    if (x.secure && !CameOverHttps(x.request)) return false;
    DWORD status = 0;
    if (!QueryNumber(x.request, HTTP_QUERY_STATUS_CODE, status) || status < 200 || status > 299) return false;
    DWORD contentLength = 0;
    const bool hasLength = QueryNumber(x.request, HTTP_QUERY_CONTENT_LENGTH, contentLength);
    if (hasLength && contentLength > x.limits.maxBodyBytes) return false;

    // A synchronous read may wait until its buffer is full, so read only
    // what has arrived, and look at the clock between reads.
    while (!x.Overdue()) {
        DWORD available = 0;
        if (!WinInet().InternetQueryDataAvailable(x.request, &available, 0, 0)) return false;
        if (available == 0) break;
        char buffer[kChunk];
        DWORD n = 0;
        const DWORD want = available < kChunk ? available : kChunk;
        if (!WinInet().InternetReadFile(x.request, buffer, want, &n)) return false;
        if (n == 0) break;
        x.body.append(buffer, n);
        if (x.body.size() > x.limits.maxBodyBytes) return false;
        // All the server announced has come: no need to ask for more.
        if (hasLength && x.body.size() == contentLength) return true;
    }
    return !x.Overdue() && !hasLength;  // past its time, or cut off
}

DWORD WINAPI RunExchange(void* shared) {
    const std::unique_ptr<std::shared_ptr<Exchange>> hold(static_cast<std::shared_ptr<Exchange>*>(shared));
    Exchange& x = **hold;
    x.sent = WinInet().HttpSendRequestA(x.request, nullptr, 0, nullptr, 0) != FALSE;
    x.complete = x.sent && ReadReply(x);
    SetEvent(x.done);
    return 0;
}

// Sends the request and reads the reply on a thread of its own, while this
// one yields: no blocking call (a name lookup, a server that trickles its
// header) can hold the cycle past the exchange's time. Null when the time
// ran out first.
std::shared_ptr<Exchange> Exchanged(HINTERNET request, bool secure, const RequestLimits& limits) {
    auto x = std::make_shared<Exchange>();
    x->request = request;
    x->secure = secure;
    x->limits = limits;
    auto* hold = new std::shared_ptr<Exchange>(x);
    HANDLE thread = x->done ? CreateThread(nullptr, 0, RunExchange, hold, 0, nullptr) : nullptr;
    if (!thread) {
        RunExchange(hold);  // no thread to be had: in line, under WinInet's own time-outs
        return x;
    }
    CloseHandle(thread);
    for (;;) {
        const DWORD elapsed = GetTickCount() - x->started;
        const DWORD left = elapsed < limits.totalMs ? limits.totalMs - elapsed : 0;
        if (MsgWaitForMultipleObjects(1, &x->done, FALSE, left, QS_ALLINPUT) == WAIT_OBJECT_0) return x;
        if (left == 0) return nullptr;
        DoEvents();
    }
}

}  // namespace

bool RefreshCycle::PostRequest(const std::string& ScriptName) {
    const std::string script = ScriptName;
    bool result = false;
    bool done = false;
    DoEvents();

    HINTERNET request =
        hConnect ? WinInet().HttpOpenRequestA(hConnect.get(), nullptr, script.c_str(), "HTTP/1.1", "", nullptr,
                                              kRequestFlags | (server.secure ? INTERNET_FLAG_SECURE : 0), 0)
                 : nullptr;
    if (request) {
        hRequest.reset(request);
        SetTimeouts(request);
    } else {
        Disconnect();
    }
    DoEvents();

    const std::shared_ptr<Exchange> reply = hRequest ? Exchanged(hRequest.get(), server.secure, limits) : nullptr;
    std::wstring address;
    if (reply && reply->complete) address = TrimReply(FromAnsi(reply->body));
    if (!reply || !reply->sent) {
        // Never sent, or no answer in time: the handles go now.
        Disconnect();
    } else if (IsIpAddress(address)) {
        window_.SetAddressText(address);
        DoEvents();
        const bool withDate = window_.DateState() != 0;
        const std::wstring path = window_.LogPath();
        std::wstring line = window_.AddressText();
        if (withDate) line = log::ComposeLogLine(line, true, log::Clock()());
        const bool overwrite = window_.OverwriteState() != 0;
        if (window_.ChangesOnly() && !log::IsNewAddress(path, window_.AddressText())) {
            runlimit::Succeeded();  // nothing to write: the log already says it
            done = true;
        } else {
            done = log::AddToLogs(path, line, overwrite);
        }
        DoEvents();
        result = true;
    }

    if (window_.Silent()) window_.Unload(done);
    return result;
}

}  // namespace quillon::net
