// The refresh cycle against a recording WinInet table: each call failing in
// turn, the exact arguments, and every handle closed once and in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/LogLine.h"
#include "net/FakeWindow.h"
#include "net/RefreshCycle.h"
#include "support/TestSupport.h"

using namespace quillon;
using ::testing::ElementsAre;

namespace {

enum class Fail { None, Open, Connect, OpenRequest, Send, ReadPartWay, Status };

struct Fake {
    Fail fail = Fail::None;
    DWORD status = 200;
    std::vector<std::string> body{"203.0.", "113.7"};
    size_t nextChunk = 0;
    int handles = 0;
    std::vector<std::string> events;
    // Arguments seen.
    std::string agent, proxy, bypass, server, verb = "<unset>", object, version, referrer;
    DWORD access = 99, openFlags = 99, requestFlags = 0, port = 99, service = 0;
    bool acceptTypesNull = false, userEmpty = false, passwordEmpty = false;
    std::string finalUrl = "http://ip.varnhold.example/ip.shtml";  // where the reply came from
    std::function<void()> onSend;
} fake;

std::string Name(HINTERNET h) { return std::to_string(reinterpret_cast<INT_PTR>(h)); }
HINTERNET NewHandle(const char* kind) {
    HINTERNET h = reinterpret_cast<HINTERNET>(static_cast<INT_PTR>(++fake.handles));
    fake.events.push_back(std::string("open ") + kind + " " + Name(h));
    return h;
}

HINTERNET WINAPI FakeOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
    fake.agent = agent;
    fake.access = access;
    fake.proxy = proxy ? proxy : "<null>";
    fake.bypass = bypass ? bypass : "<null>";
    fake.openFlags = flags;
    return fake.fail == Fail::Open ? nullptr : NewHandle("session");
}
HINTERNET WINAPI FakeConnect(HINTERNET, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                             DWORD service, DWORD, DWORD_PTR) {
    fake.server = server;
    fake.port = port;
    fake.userEmpty = user && !*user;
    fake.passwordEmpty = password && !*password;
    fake.service = service;
    return fake.fail == Fail::Connect ? nullptr : NewHandle("connection");
}
HINTERNET WINAPI FakeOpenRequest(HINTERNET, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                                 LPCSTR* accept, DWORD flags, DWORD_PTR) {
    fake.verb = verb ? verb : "<null>";
    fake.object = object;
    fake.version = version ? version : "<null>";
    fake.referrer = referrer ? referrer : "<null>";
    fake.acceptTypesNull = accept == nullptr;
    fake.requestFlags = flags;
    fake.nextChunk = 0;  // each request reads the body from its start
    return fake.fail == Fail::OpenRequest ? nullptr : NewHandle("request");
}
BOOL WINAPI FakeSend(HINTERNET h, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
    fake.events.push_back("send " + Name(h));
    if (fake.onSend) fake.onSend();
    return fake.fail != Fail::Send && !headers && headersLength == 0 && !optional && optionalLength == 0;
}
BOOL WINAPI FakeQueryInfo(HINTERNET, DWORD level, LPVOID buffer, LPDWORD, LPDWORD) {
    if ((level & 0xFFFF) != HTTP_QUERY_STATUS_CODE) return FALSE;  // no Content-Length
    *static_cast<DWORD*>(buffer) = fake.fail == Fail::Status ? 404 : fake.status;
    return TRUE;
}
BOOL WINAPI FakeAvailable(HINTERNET, LPDWORD available, DWORD, DWORD_PTR) {
    *available = fake.nextChunk < fake.body.size() ? static_cast<DWORD>(fake.body[fake.nextChunk].size()) : 0;
    return TRUE;
}
BOOL WINAPI FakeRead(HINTERNET, LPVOID buffer, DWORD size, LPDWORD read) {
    if (fake.fail == Fail::ReadPartWay && fake.nextChunk == 1) return FALSE;
    const std::string& chunk = fake.body[fake.nextChunk++];
    if (chunk.size() > size) return FALSE;
    std::memcpy(buffer, chunk.data(), chunk.size());
    *read = static_cast<DWORD>(chunk.size());
    return TRUE;
}
BOOL WINAPI FakeSetOption(HINTERNET, DWORD, LPVOID, DWORD) { return TRUE; }
BOOL WINAPI FakeQueryOption(HINTERNET, DWORD option, LPVOID buffer, LPDWORD size) {
    if (option != INTERNET_OPTION_URL || *size <= fake.finalUrl.size()) return FALSE;
    std::memcpy(buffer, fake.finalUrl.c_str(), fake.finalUrl.size() + 1);
    *size = static_cast<DWORD>(fake.finalUrl.size());
    return TRUE;
}
BOOL WINAPI FakeClose(HINTERNET h) {
    fake.events.push_back("close " + Name(h));
    return TRUE;
}

SYSTEMTIME FixedClock() { return SYSTEMTIME{2026, 12, 0, 6, 7, 43, 26, 0}; }

class FakeWinInet : public ::testing::Test {
protected:
    void SetUp() override {
        fake = Fake{};
        saved_ = net::WinInet();
        net::WinInet() = {FakeOpen,      FakeConnect, FakeOpenRequest, FakeSend,  FakeQueryInfo,
                          FakeAvailable, FakeRead,    FakeSetOption,   FakeClose, FakeQueryOption};
        savedClock_ = log::Clock();
        log::Clock() = FixedClock;
        window.logPath = dir / L"IP_log.txt";
    }
    void TearDown() override {
        net::WinInet() = saved_;
        log::Clock() = savedClock_;
    }
    std::string Log() { return test::ReadBytes(window.logPath); }

    test::TempDir dir;
    test::FakeWindow window;
    net::RefreshCycle cycle{window, "ip.varnhold.example"};
    net::WinInetApi saved_{};
    log::ClockFn savedClock_{};
};

}  // namespace

TEST_F(FakeWinInet, ACycleLogsTheAddressAndClosesRequestConnectionSession) {
    cycle.Command1_Click();
    EXPECT_EQ(window.address, L"203.0.113.7");
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    EXPECT_THAT(fake.events, ElementsAre("open session 1", "open connection 2", "open request 3", "send 3",
                                         "close 3", "close 2", "close 1"));
    EXPECT_FALSE(cycle.hSession || cycle.hConnect || cycle.hRequest);
}

TEST_F(FakeWinInet, PassesTheExactArguments) {
    cycle.Command1_Click();
    EXPECT_EQ(fake.agent, "net_tests");  // the executable's name without extension
    EXPECT_EQ(fake.access, static_cast<DWORD>(INTERNET_OPEN_TYPE_PRECONFIG));
    EXPECT_EQ(fake.proxy, "");
    EXPECT_EQ(fake.bypass, "");
    EXPECT_EQ(fake.openFlags, 0u);
    EXPECT_EQ(fake.server, "ip.varnhold.example");
    EXPECT_EQ(fake.port, 0u);
    EXPECT_TRUE(fake.userEmpty);
    EXPECT_TRUE(fake.passwordEmpty);
    EXPECT_EQ(fake.service, static_cast<DWORD>(INTERNET_SERVICE_HTTP));
    EXPECT_EQ(fake.verb, "<null>");
    EXPECT_EQ(fake.object, "ip.shtml");
    EXPECT_EQ(fake.version, "HTTP/1.1");
    EXPECT_EQ(fake.referrer, "");
    EXPECT_TRUE(fake.acceptTypesNull);
    EXPECT_EQ(fake.requestFlags, static_cast<DWORD>(INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                                                    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE));
}

// What only the calls show of an https:// url: verified TLS, and a reply
// that a redirect brought back over plain HTTP counts for nothing.
TEST_F(FakeWinInet, AnHttpsUrlIsAskedWithVerifiedTlsAndMustStayHttps) {
    cycle.server = *net::ParseServerUrl(L"https://ip.example.org/ip");
    fake.finalUrl = "https://ip.example.org/ip";
    cycle.Command1_Click();
    EXPECT_EQ(fake.requestFlags & INTERNET_FLAG_SECURE, static_cast<DWORD>(INTERNET_FLAG_SECURE));
    EXPECT_EQ(fake.requestFlags & (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID), 0u);
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    fake = Fake{};
    fake.finalUrl = "http://ip.example.org/ip";
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
}

TEST_F(FakeWinInet, AProxyNameOpensTheSessionThroughThatProxy) {
    EXPECT_TRUE(cycle.Connect("host.example", "proxy.example:8080"));
    EXPECT_EQ(fake.access, static_cast<DWORD>(INTERNET_OPEN_TYPE_PROXY));
    EXPECT_EQ(fake.proxy, "proxy.example:8080");
    EXPECT_EQ(fake.bypass, "");
    EXPECT_EQ(fake.server, "host.example");
    cycle.Disconnect();
    EXPECT_THAT(fake.events, ElementsAre("open session 1", "open connection 2", "close 2", "close 1"));
}

TEST_F(FakeWinInet, ConnectIsTrueOnlyWithSessionAndConnection) {
    fake.fail = Fail::Open;
    EXPECT_FALSE(cycle.Connect("h", ""));
    EXPECT_TRUE(fake.events.empty());
    fake.fail = Fail::Connect;
    EXPECT_FALSE(cycle.Connect("h", ""));
    EXPECT_THAT(fake.events, ElementsAre("open session 1", "close 1"));
    EXPECT_FALSE(cycle.hSession);
    fake.fail = Fail::None;
    EXPECT_TRUE(cycle.Connect("h", ""));
}

TEST_F(FakeWinInet, EachFailingCallEndsTheCycleQuietlyWithEveryHandleClosedOnce) {
    struct Case {
        Fail fail;
        std::vector<std::string> events;
    };
    const std::vector<Case> cases = {
        {Fail::Open, {}},
        {Fail::Connect, {"open session 1", "close 1"}},
        {Fail::OpenRequest, {"open session 1", "open connection 2", "close 2", "close 1"}},
        {Fail::Send, {"open session 1", "open connection 2", "open request 3", "send 3", "close 3", "close 2",
                      "close 1"}},
        {Fail::ReadPartWay, {"open session 1", "open connection 2", "open request 3", "send 3", "close 3",
                             "close 2", "close 1"}},
        {Fail::Status, {"open session 1", "open connection 2", "open request 3", "send 3", "close 3", "close 2",
                        "close 1"}},
    };
    for (const Case& c : cases) {
        fake = Fake{};
        fake.fail = c.fail;
        window.address = L"previous";
        cycle.Command1_Click();
        EXPECT_EQ(fake.events, c.events) << static_cast<int>(c.fail);
        EXPECT_EQ(window.address, L"previous") << static_cast<int>(c.fail);
        EXPECT_EQ(window.setAddressCalls, 0);
        EXPECT_FALSE(test::FileExists(window.logPath)) << static_cast<int>(c.fail);
        EXPECT_FALSE(cycle.hSession || cycle.hConnect || cycle.hRequest);
    }
}

TEST_F(FakeWinInet, AFailedCycleAfterAGoodOneTouchesNoStaleHandle) {
    cycle.Command1_Click();
    fake.events.clear();
    fake.fail = Fail::OpenRequest;
    cycle.Command1_Click();
    // No send, and no second close of the first cycle's request 3.
    EXPECT_THAT(fake.events, ElementsAre("open session 4", "open connection 5", "close 5", "close 4"));
}

TEST_F(FakeWinInet, RepliesThatAreNotOneAddressCountAsFailures) {
    const std::vector<std::vector<std::string>> bodies = {
        {}, {"\r\n"}, {"<html>portal</html>"}, {"203.0.113.7\r\n198.51.100.1"}, {"Not Found"}};
    for (const auto& body : bodies) {
        fake = Fake{};
        fake.body = body;
        cycle.Command1_Click();
        EXPECT_EQ(window.address, L"unchanged");
        EXPECT_FALSE(test::FileExists(window.logPath));
    }
    fake = Fake{};
    fake.status = 204;  // any 2xx counts
    fake.body = {"\r\n 2001:db8::7 \r\n"};
    cycle.Command1_Click();
    EXPECT_EQ(window.address, L"2001:db8::7");
    EXPECT_EQ(Log(), "2001:db8::7\r\n");
}

TEST_F(FakeWinInet, TheLogLineFollowsTheOptionsReadAfterTheReply) {
    window.date = 2;  // grayed counts as set
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7 - 12/6/2026 7:43:26 AM\r\n");
    window.date = 0;
    window.overwrite = 2;
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    window.overwrite = 0;
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n203.0.113.7\r\n");
}

TEST_F(FakeWinInet, SilentModeUnloadsAtTheEndWhetherOrNotAnAddressWasLogged) {
    window.silent = true;
    cycle.Command1_Click();
    EXPECT_EQ(window.unloads, 1);
    EXPECT_TRUE(window.lastLogged);
    fake = Fake{};
    fake.fail = Fail::Send;
    cycle.Command1_Click();
    EXPECT_EQ(window.unloads, 2);
    EXPECT_FALSE(window.lastLogged);
    fake = Fake{};
    window.logPath = dir / L"missing\\IP_log.txt";  // logged nothing although the reply was good
    cycle.Command1_Click();
    EXPECT_EQ(window.unloads, 3);
    EXPECT_FALSE(window.lastLogged);
}

TEST_F(FakeWinInet, AClickDuringAYieldOfARunningCycleIsIgnored) {
    // A click arrives as a message while the cycle yields before sending.
    HWND sink = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(sink);
    static net::RefreshCycle* target = nullptr;
    static int nestedClicks = 0;
    target = &cycle;
    nestedClicks = 0;
    SetWindowLongPtrW(sink, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                          if (m == WM_APP) {
                              ++nestedClicks;
                              target->Command1_Click();
                              return 0;
                          }
                          return DefWindowProcW(h, m, w, l);
                      }));
    PostMessageW(sink, WM_APP, 0, 0);
    cycle.Command1_Click();
    DestroyWindow(sink);
    EXPECT_EQ(nestedClicks, 1);
    EXPECT_THAT(fake.events, ElementsAre("open session 1", "open connection 2", "open request 3", "send 3",
                                         "close 3", "close 2", "close 1"));
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    // Once the cycle has ended, a click runs a cycle again.
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n203.0.113.7\r\n");
}
