#include "net/RefreshCycle.h"

#include <utility>

#include "common/DoEvents.h"
#include "common/ModulePath.h"
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

RefreshCycle::RefreshCycle(WindowState& window, std::string serverName)
    : window_(window), serverName_(std::move(serverName)) {}

void RefreshCycle::Command1_Click() {
    // The yields below dispatch messages; a second click arriving there
    // must not start a cycle that would close this one's handles.
    if (bRunning) return;
    bRunning = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{bRunning};

    Connect(serverName_, "");
    DoEvents();
    PostRequest("ip.shtml");
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

    HINTERNET connection = WinInet().InternetConnectA(hSession.get(), ServerName.c_str(),
                                                      INTERNET_INVALID_PORT_NUMBER, "", "",
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

bool RefreshCycle::ReadAddress(std::wstring& address) {
    DWORD status = 0;
    if (!QueryNumber(hRequest.get(), HTTP_QUERY_STATUS_CODE, status) || status < 200 || status > 299)
        return false;
    DWORD contentLength = 0;
    const bool hasLength = QueryNumber(hRequest.get(), HTTP_QUERY_CONTENT_LENGTH, contentLength);
    if (hasLength && contentLength > limits.maxBodyBytes) return false;

    // A synchronous read may wait until its buffer is full, so read only
    // what has arrived, and look at the clock between reads.
    std::string body;
    const DWORD start = GetTickCount();
    while (true) {
        if (GetTickCount() - start > limits.bodyDeadlineMs) return false;
        DWORD available = 0;
        if (!WinInet().InternetQueryDataAvailable(hRequest.get(), &available, 0, 0)) return false;
        if (available == 0) break;
        char buffer[kChunk];
        DWORD n = 0;
        const DWORD want = available < kChunk ? available : kChunk;
        if (!WinInet().InternetReadFile(hRequest.get(), buffer, want, &n)) return false;
        if (n == 0) break;
        body.append(buffer, n);
        if (body.size() > limits.maxBodyBytes) return false;
        DoEvents();
        // All the server announced has come: no need to ask for more.
        if (hasLength && body.size() == contentLength) break;
    }
    if (hasLength && body.size() != contentLength) return false;  // cut off

    address = TrimReply(FromAnsi(body));
    return IsIpAddress(address);
}

bool RefreshCycle::PostRequest(const std::string& ScriptName) {
    const std::string script = ScriptName;
    bool result = false;
    bool logged = false;
    DoEvents();

    HINTERNET request =
        hConnect ? WinInet().HttpOpenRequestA(hConnect.get(), nullptr, script.c_str(), "HTTP/1.1", "",
                                              nullptr, kRequestFlags, 0)
                 : nullptr;
    if (request) {
        hRequest.reset(request);
        SetTimeouts(request);
    } else {
        Disconnect();
    }
    DoEvents();

    const bool sent = hRequest && WinInet().HttpSendRequestA(hRequest.get(), nullptr, 0, nullptr, 0);
    std::wstring address;
    if (!sent) {
        Disconnect();
    } else if (ReadAddress(address)) {
        window_.SetAddressText(address);
        DoEvents();
        const bool withDate = window_.DateState() != 0;
        const std::wstring path = window_.LogPath();
        std::wstring line = window_.AddressText();
        if (withDate) line = log::ComposeLogLine(line, true, log::Clock()());
        const bool overwrite = window_.OverwriteState() != 0;
        logged = log::AddToLogs(path, line, overwrite);
        DoEvents();
        result = true;
    }

    if (window_.Silent()) window_.Unload(logged);
    return result;
}

}  // namespace quillon::net
