// The refresh cycle against a recording WinInet table: each call failing in
// turn, the exact arguments, and every handle closed once and in order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/NamedLock.h"
#include "log/LogLine.h"
#include "net/FakeWindow.h"
#include "net/RefreshCycle.h"
#include "support/TestSupport.h"

using namespace quillon;
using ::testing::ElementsAre;

namespace {

enum class Fail { None, Open, Connect, OpenRequest, Send, ReadPartWay, Status };

// What one page answers; the default for every page not named in replies.
struct Reply {
    DWORD status = 200;
    std::vector<std::string> body{"203.0.", "113.7"};
    std::string location;
    DWORD sendError = 0;  // the send fails with it
    DWORD sendMs = 0;     // after this long
};

struct Fake {
    Fail fail = Fail::None;
    Reply standard;
    std::map<std::string, Reply> replies;  // by host and object
    std::map<HINTERNET, size_t> nextChunk;  // by request: each reads its body from its start
    int handles = 0;
    std::vector<std::string> events;
    std::map<HINTERNET, std::string> target;  // a connection's host, a request's host and object
    std::vector<std::string> asked;
    std::vector<DWORD> requestFlags;
    std::vector<std::string> headers;  // of each send
    // Arguments seen.
    std::string agent, proxy, bypass, server, verb = "<unset>", object, version, referrer;
    DWORD access = 99, openFlags = 99, port = 99, service = 0;
    bool acceptTypesNull = false, userEmpty = false, passwordEmpty = false;
    std::map<std::string, DWORD> connectMs;  // by host: the connection takes this long
    std::vector<DWORD> sendTimes;
} fake;

// Hedged requests call in from several threads at once.
std::recursive_mutex fakeLock;
using Guard = std::lock_guard<std::recursive_mutex>;

const Reply& ReplyFor(HINTERNET request) {
    const auto named = fake.replies.find(fake.target[request]);
    return named == fake.replies.end() ? fake.standard : named->second;
}

std::string Name(HINTERNET h) { return std::to_string(reinterpret_cast<INT_PTR>(h)); }
HINTERNET NewHandle(const char* kind) {
    HINTERNET h = reinterpret_cast<HINTERNET>(static_cast<INT_PTR>(++fake.handles));
    fake.events.push_back(std::string("open ") + kind + " " + Name(h));
    return h;
}

HINTERNET WINAPI FakeOpen(LPCSTR agent, DWORD access, LPCSTR proxy, LPCSTR bypass, DWORD flags) {
    const Guard guard(fakeLock);
    fake.agent = agent;
    fake.access = access;
    fake.proxy = proxy ? proxy : "<null>";
    fake.bypass = bypass ? bypass : "<null>";
    fake.openFlags = flags;
    return fake.fail == Fail::Open ? nullptr : NewHandle("session");
}
HINTERNET WINAPI FakeConnect(HINTERNET, LPCSTR server, INTERNET_PORT port, LPCSTR user, LPCSTR password,
                             DWORD service, DWORD, DWORD_PTR) {
    Sleep(fake.connectMs[server]);
    const Guard guard(fakeLock);
    fake.server = server;
    fake.port = port;
    fake.userEmpty = user && !*user;
    fake.passwordEmpty = password && !*password;
    fake.service = service;
    if (fake.fail == Fail::Connect) return nullptr;
    HINTERNET h = NewHandle("connection");
    fake.target[h] = server;
    return h;
}
HINTERNET WINAPI FakeOpenRequest(HINTERNET connection, LPCSTR verb, LPCSTR object, LPCSTR version, LPCSTR referrer,
                                 LPCSTR* accept, DWORD flags, DWORD_PTR) {
    const Guard guard(fakeLock);
    fake.verb = verb ? verb : "<null>";
    fake.object = object;
    fake.version = version ? version : "<null>";
    fake.referrer = referrer ? referrer : "<null>";
    fake.acceptTypesNull = accept == nullptr;
    fake.requestFlags.push_back(flags);
    if (fake.fail == Fail::OpenRequest) return nullptr;
    HINTERNET h = NewHandle("request");
    fake.target[h] = fake.target[connection] + object;
    return h;
}
BOOL WINAPI FakeSend(HINTERNET h, LPCSTR headers, DWORD headersLength, LPVOID optional, DWORD optionalLength) {
    std::unique_lock<std::recursive_mutex> guard(fakeLock);
    fake.events.push_back("send " + Name(h));
    fake.asked.push_back(fake.target[h]);
    fake.sendTimes.push_back(GetTickCount());
    const Reply reply = ReplyFor(h);
    guard.unlock();
    Sleep(reply.sendMs);
    guard.lock();
    SetLastError(reply.sendError);
    fake.headers.push_back(headers ? std::string(headers, headersLength) : "");
    return fake.fail != Fail::Send && !reply.sendError && !optional && optionalLength == 0;
}
BOOL WINAPI FakeQueryInfo(HINTERNET h, DWORD level, LPVOID buffer, LPDWORD size, LPDWORD) {
    const Guard guard(fakeLock);
    const Reply& reply = ReplyFor(h);
    if ((level & 0xFFFF) == HTTP_QUERY_LOCATION && !reply.location.empty() && *size > reply.location.size()) {
        std::memcpy(buffer, reply.location.c_str(), reply.location.size() + 1);
        *size = static_cast<DWORD>(reply.location.size());
        return TRUE;
    }
    if ((level & 0xFFFF) != HTTP_QUERY_STATUS_CODE) return FALSE;  // no Content-Length
    *static_cast<DWORD*>(buffer) = fake.fail == Fail::Status ? 404 : reply.status;
    return TRUE;
}
BOOL WINAPI FakeAvailable(HINTERNET h, LPDWORD available, DWORD, DWORD_PTR) {
    const Guard guard(fakeLock);
    const std::vector<std::string>& body = ReplyFor(h).body;
    *available = fake.nextChunk[h] < body.size() ? static_cast<DWORD>(body[fake.nextChunk[h]].size()) : 0;
    return TRUE;
}
BOOL WINAPI FakeRead(HINTERNET h, LPVOID buffer, DWORD size, LPDWORD read) {
    const Guard guard(fakeLock);
    if (fake.fail == Fail::ReadPartWay && fake.nextChunk[h] == 1) return FALSE;
    const std::string& chunk = ReplyFor(h).body[fake.nextChunk[h]++];
    if (chunk.size() > size) return FALSE;
    std::memcpy(buffer, chunk.data(), chunk.size());
    *read = static_cast<DWORD>(chunk.size());
    return TRUE;
}
BOOL WINAPI FakeSetOption(HINTERNET, DWORD, LPVOID, DWORD) { return TRUE; }
BOOL WINAPI FakeClose(HINTERNET h) {
    const Guard guard(fakeLock);
    fake.events.push_back("close " + Name(h));
    return TRUE;
}

SYSTEMTIME FixedClock() { return SYSTEMTIME{2026, 12, 0, 6, 7, 43, 26, 0}; }

class FakeWinInet : public ::testing::Test {
protected:
    void SetUp() override {
        fake = Fake{};
        saved_ = net::WinInet();
        net::WinInet() = {FakeOpen,      FakeConnect, FakeOpenRequest, FakeSend, FakeQueryInfo,
                          FakeAvailable, FakeRead,    FakeSetOption,   FakeClose};
        savedClock_ = log::Clock();
        log::Clock() = FixedClock;
        window.logPath = dir / L"IP_log.txt";
    }
    void TearDown() override {
        net::WinInet() = saved_;
        log::Clock() = savedClock_;
    }
    std::string Log() { return test::ReadBytes(window.logPath); }
    // Every handle opened is closed exactly once, and none that was not.
    void ExpectEachHandleClosedOnce() {
        const Guard guard(fakeLock);
        std::map<std::string, int> open;
        for (const std::string& e : fake.events) {
            const std::string h = e.substr(e.rfind(' ') + 1);
            if (e.rfind("open ", 0) == 0) ++open[h];
            if (e.rfind("close ", 0) == 0) {
                EXPECT_EQ(--open[h], 0) << "closed twice or never opened: " << h;
            }
        }
        for (const auto& [h, n] : open) EXPECT_EQ(n, 0) << "never closed: " << h;
    }

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
    EXPECT_FALSE(cycle.hSession || cycle.hConnect);
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
    EXPECT_EQ(fake.headers, std::vector<std::string>{""});
    // Redirects are the cycle's to follow, one hop at a time; no cookie
    // goes with a request or is kept from its answer.
    EXPECT_THAT(fake.requestFlags,
                ElementsAre(static_cast<DWORD>(INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                                               INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                                               INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_NO_COOKIES |
                                               INTERNET_FLAG_NO_UI)));
}

// Every hop of an https:// page is asked with verified TLS, and may lead
// only to another https:// page, five hops at most.
TEST_F(FakeWinInet, RedirectsAreFollowedOneHopAtATimeAndHttpsStaysHttps) {
    cycle.servers = {*net::ParseServerUrl(L"https://a.example/ip")};
    fake.replies["a.example/ip"] = {302, {}, "https://b.example/x"};
    fake.replies["b.example/x"] = {301, {}, "y?z=1"};
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    EXPECT_THAT(fake.asked, ElementsAre("a.example/ip", "b.example/x", "b.example/y?z=1"));
    for (DWORD flags : fake.requestFlags) {
        EXPECT_TRUE(flags & INTERNET_FLAG_SECURE);
        EXPECT_FALSE(flags & (INTERNET_FLAG_IGNORE_CERT_CN_INVALID | INTERNET_FLAG_IGNORE_CERT_DATE_INVALID));
    }
    EXPECT_EQ(fake.server, "b.example");
    EXPECT_THAT(fake.events, ::testing::Contains("close 4")) << "the second server's connection";

    // Through plain HTTP, and round in circles: nothing is logged.
    DeleteFileW(window.logPath.c_str());
    for (const char* location : {"http://b.example/x", "/ip"}) {
        fake = Fake{};
        fake.replies["a.example/ip"] = {302, {}, location};
        cycle.Command1_Click();
        EXPECT_FALSE(test::FileExists(window.logPath)) << location;
        ASSERT_EQ(cycle.Failures().size(), 1u);
        EXPECT_EQ(fake.asked.size(), location[0] == '/' ? 6u : 1u) << location;
    }
    EXPECT_NE(cycle.Failures()[0].why.find(L"more than 5"), std::wstring::npos);
    EXPECT_THAT(fake.events.back(), "close 1");
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
        EXPECT_FALSE(cycle.hSession || cycle.hConnect);
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
        fake.standard.body = body;
        cycle.Command1_Click();
        EXPECT_EQ(window.address, L"unchanged");
        EXPECT_FALSE(test::FileExists(window.logPath));
    }
    fake = Fake{};
    fake.standard.status = 204;  // any 2xx counts
    fake.standard.body = {"\r\n 2001:db8::7 \r\n"};
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

// Only changes: the log's last address counts however it was written, and
// an IPv6 one by its /64 network (a new temporary address is no change).
TEST_F(FakeWinInet, WithChangesOnlyTheSameAddressInAnotherSpellingIsNoChange) {
    window.changesOnly = true;
    const std::string first = "2001:0DB8:0::7 - 12/6/2026 7:43:26 AM\r\n";
    test::WriteBytes(window.logPath, first);
    for (const char* same : {"2001:db8::7", "2001:db8::8:1"}) {
        fake.standard.body = {same};
        cycle.Command1_Click();
        EXPECT_EQ(Log(), first) << same;
    }
    for (const char* other : {"2001:db8:0:1::8", "::ffff:198.51.100.7", "198.51.100.8"}) {
        fake.standard.body = {other};
        cycle.Command1_Click();
        EXPECT_EQ(Log().substr(Log().rfind("\r\n", Log().size() - 3) + 2), std::string(other) + "\r\n") << other;
    }
}

// A window hears when the address differs from the log's last one, until
// the next refresh; a first start and a silent run do not.
TEST_F(FakeWinInet, AnAddressThatDiffersFromTheLastLoggedOneIsSaid) {
    using Problem = net::WindowState::Problem;
    cycle.Command1_Click();
    cycle.Command1_Click();
    EXPECT_EQ(window.problem, Problem::None);
    test::WriteBytes(window.logPath, "198.51.100.1 - 12/6/2026 7:43:26 AM\r\n");
    cycle.Command1_Click();
    EXPECT_EQ(window.problem, Problem::AddressChanged);
    EXPECT_EQ(window.problemText, L"Before: 198.51.100.1, logged 12/6/2026 7:43:26 AM\nNow: 203.0.113.7");
    cycle.Command1_Click();
    EXPECT_EQ(window.problem, Problem::None);
    // A new temporary IPv6 address in the same /64 is no change.
    test::WriteBytes(window.logPath, "2001:db8::1\r\n");
    fake.standard.body = {"2001:db8::2"};
    cycle.Command1_Click();
    EXPECT_EQ(window.problem, Problem::None);
    test::WriteBytes(window.logPath, "198.51.100.1\r\n");
    window.silent = true;
    cycle.Command1_Click();
    EXPECT_EQ(window.problem, Problem::None);
}

// A service that does not answer has the next asked beside it within about
// a second and a half; the first address wins, and the slow one is outrun,
// not failed.
TEST_F(FakeWinInet, ASilentServiceHasTheNextAskedBesideItSoon) {
    cycle.servers = net::BuiltInServers("");
    fake.replies["api.ipify.org/"] = {200, {}, {}, ERROR_INTERNET_TIMEOUT, 2500};
    fake.replies["ipv4.icanhazip.com/"].body = {"198.51.100.2\n"};
    const DWORD start = GetTickCount();
    cycle.Command1_Click();
    const DWORD ms = GetTickCount() - start;
    EXPECT_EQ(Log(), "198.51.100.2\r\n");
    EXPECT_GE(ms, cycle.limits.hedgeMs - 100);
    EXPECT_LT(ms, cycle.limits.hedgeMs + 800);
    EXPECT_TRUE(cycle.Failures().empty());
    // The outrun request's thread, back from its call, closes the request
    // (never closed under the call) and makes no other.
    const size_t seen = fake.events.size();
    EXPECT_EQ(cycle.Unfinished(), 1u);
    Sleep(1500);
    EXPECT_EQ(cycle.Unfinished(), 0u);
    ASSERT_EQ(fake.events.size(), seen + 1);
    EXPECT_EQ(fake.events.back().rfind("close ", 0), 0u) << fake.events.back();
    ExpectEachHandleClosedOnce();
}

// Each request has a done-flag of its own: an answer that comes while the
// next server is being connected is taken at once, not when that one ends.
// A failure has the next asked at once, not at the next one's turn.
TEST_F(FakeWinInet, AnAnswerDuringTheHedgeIsTakenAndAFailureIsPassedOverAtOnce) {
    cycle.servers = net::BuiltInServers("");
    cycle.limits.hedgeMs = 300;
    fake.replies["api.ipify.org/"].sendMs = 400;
    fake.connectMs["ipv4.icanhazip.com"] = 300;
    fake.replies["ipv4.icanhazip.com/"] = {200, {"198.51.100.2\n"}, {}, 0, 2000};
    DWORD start = GetTickCount();
    cycle.Command1_Click();
    EXPECT_LT(GetTickCount() - start, 1500u);
    EXPECT_EQ(Log(), "203.0.113.7\r\n");
    for (start = GetTickCount(); cycle.Unfinished() && GetTickCount() - start < 5000;) Sleep(50);

    fake = Fake{};
    cycle.limits.hedgeMs = 1500;
    fake.replies["api.ipify.org/"].sendMs = 4000;
    fake.replies["ipv4.icanhazip.com/"] = {200, {}, {}, ERROR_INTERNET_CANNOT_CONNECT};
    fake.replies["checkip.amazonaws.com/"].body = {"198.51.100.3\n"};
    start = GetTickCount();
    cycle.Command1_Click();
    EXPECT_LT(GetTickCount() - start, 2200u);
    EXPECT_EQ(Log(), "203.0.113.7\r\n198.51.100.3\r\n");
    ASSERT_EQ(fake.sendTimes.size(), 3u);
    EXPECT_LT(fake.sendTimes[2] - fake.sendTimes[1], 400u) << "the third waited for its turn";
    Sleep(4000);
    ExpectEachHandleClosedOnce();
}

// A silent run keeps no connection: a kept one would start WinInet's pool
// thread as the process ends.
TEST_F(FakeWinInet, SilentModeKeepsNoConnectionAndUnloadsAtTheEndWhetherOrNotAnAddressWasLogged) {
    window.silent = true;
    cycle.Command1_Click();
    EXPECT_EQ(window.unloads, 1);
    EXPECT_TRUE(window.lastLogged);
    EXPECT_EQ(fake.headers, std::vector<std::string>{"Connection: close\r\n"});
    EXPECT_EQ(fake.requestFlags.at(0) & INTERNET_FLAG_KEEP_CONNECTION, 0u);
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

// The public services: whatever fails with one, the next is asked, the
// first address is logged once, and what failed is said. (Every way a
// service fails, and all failing, end to end: tests/release/user-test.sh.)
TEST_F(FakeWinInet, AServiceThatFailsIsPassedOverAndSaid) {
    using Problem = net::WindowState::Problem;
    cycle.servers = net::BuiltInServers("");
    const std::pair<Reply, const wchar_t*> cases[] = {
        {{200, {}, {}, ERROR_INTERNET_SECURITY_CHANNEL_ERROR}, L"the secure connection failed (is TLS 1.2 on"},
        {{200, {"<html>portal</html>"}, {}, 0}, L"the answer was not an address"},
        {{200, {"2001:db8::7\n"}, {}, 0}, L"the answer was an IPv6 address"},
    };
    for (const auto& [first, why] : cases) {
        fake = Fake{};
        fake.replies["api.ipify.org/"] = first;
        fake.replies["ipv4.icanhazip.com/"].body = {"198.51.100.2\n"};
        DeleteFileW(window.logPath.c_str());
        window.problem = Problem::NoAddress;
        cycle.Command1_Click();
        EXPECT_EQ(Log(), "198.51.100.2\r\n");
        EXPECT_THAT(fake.asked, ElementsAre("api.ipify.org/", "ipv4.icanhazip.com/"));
        EXPECT_EQ(window.problem, Problem::None);
        ASSERT_EQ(cycle.Failures().size(), 1u);
        EXPECT_EQ(cycle.Failures()[0].why.rfind(why, 0), 0u) << testing::PrintToString(cycle.Failures()[0].why);
    }
}

// With ipv6=1 both families are asked side by side, a line of each in one
// write, IPv4 first. A family that fails keeps its part of Text1 and the
// other is still logged (3 from a silent run); an overwrite keeps the failed
// family's line, and its failure and the other's change are one balloon.
TEST_F(FakeWinInet, BothFamiliesAreAskedSideBySideAndEachStandsOnItsOwn) {
    window.ipv6 = true;
    fake.standard = {200, {"203.0.113.7"}, {}, 0, 600};
    fake.replies["api6.ipify.org/"] = {200, {"2001:db8::5\n"}, {}, 0, 600};
    window.date = 1;
    const DWORD start = GetTickCount();
    cycle.Command1_Click();
    EXPECT_LT(GetTickCount() - start, 1100u);  // not one after the other
    EXPECT_EQ(window.address, L"203.0.113.7  2001:db8::5");
    EXPECT_EQ(Log(), "203.0.113.7 - 12/6/2026 7:43:26 AM\r\n2001:db8::5 - 12/6/2026 7:43:26 AM\r\n");

    // Each family refuses the other's answers, an IPv4-mapped one too.
    window.date = 0;
    window.silent = true;
    fake.standard = {200, {"2001:db8::7"}, {}};
    fake.replies["api6.ipify.org/"] = {200, {"::ffff:198.51.100.9"}, {}};
    fake.replies["ipv6.icanhazip.com/"] = {200, {"2001:db8::6"}, {}};
    test::WriteBytes(window.logPath, "");
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "2001:db8::6\r\n");
    EXPECT_EQ(window.lastExitCode, 3);
    EXPECT_EQ(window.address, L"203.0.113.7  2001:db8::6");

    window.silent = false;
    window.overwrite = 1;
    test::WriteBytes(window.logPath, "203.0.113.7\r\n2001:db8:1:3::5\r\n");
    fake.standard = {200, {}, {}, ERROR_INTERNET_NAME_NOT_RESOLVED};
    fake.replies["api6.ipify.org/"] = {200, {"2001:db8:1:4::5"}, {}};
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "203.0.113.7\r\n2001:db8:1:4::5\r\n");
    EXPECT_EQ(window.problem, net::WindowState::Problem::AddressChanged);
    EXPECT_EQ(window.problemText, L"IPv6 before: 2001:db8:1:3::5\nNow: 2001:db8:1:4::5\n\nIPv4:\n"
                                  L"http://ip.varnhold.example/ip.shtml: the name was not found");
    ExpectEachHandleClosedOnce();
}

// What a refresh asks is read as it starts: IPv6 switched off while the
// IPv6 service is slow leaves that refresh as it was asked. Each family is
// compared with its own last line (no false change), both are logged, and
// Text1 keeps both; the next refresh asks for IPv4 alone.
TEST_F(FakeWinInet, AnOptionChangedDuringARefreshChangesNothingOfIt) {
    window.ipv6 = true;
    fake.replies["api6.ipify.org/"] = {200, {"2001:db8::5"}, {}, 0, 800};
    test::WriteBytes(window.logPath, "203.0.113.7\r\n2001:db8::5\r\n");
    window.onAddress = [&] { window.ipv6 = false; };
    cycle.Command1_Click();
    window.onAddress = nullptr;
    EXPECT_EQ(window.problem, net::Problem::None) << testing::PrintToString(window.problemText);
    EXPECT_EQ(window.address, L"203.0.113.7  2001:db8::5");
    EXPECT_EQ(Log(), "203.0.113.7\r\n2001:db8::5\r\n203.0.113.7\r\n2001:db8::5\r\n");
    const size_t asked = fake.asked.size();
    cycle.Command1_Click();
    EXPECT_EQ(window.address, L"203.0.113.7");
    EXPECT_EQ(fake.asked.size(), asked + 1) << "IPv4 alone";
}

namespace {

DWORD tickedAt = 0;
void CALLBACK RecordTick(HWND, UINT, UINT_PTR id, DWORD) {
    tickedAt = GetTickCount();
    KillTimer(nullptr, id);
}
// Another run that holds the log's lock for a while.
HANDLE lockHeld = CreateEventW(nullptr, FALSE, FALSE, nullptr);
DWORD WINAPI HoldLogLock(void* log) {
    const NamedLock lock(L"log", *static_cast<std::wstring*>(log), 1000);
    SetEvent(lockHeld);
    Sleep(2500);
    return 0;
}

}  // namespace

// Every request thread held by stuck requests when the address comes: the
// log is still written off the window's thread, whose timer ticks while
// the write waits for another run's lock.
TEST_F(FakeWinInet, TheLogIsWrittenOffTheWindowsThreadWhenThePoolIsFull) {
    cycle.servers = net::BuiltInServers("");
    window.ipv6 = true;
    cycle.limits.hedgeMs = 100;
    cycle.limits.totalMs = cycle.limits.perServerMs = 700;
    fake.standard = {200, {"203.0.113.7"}, {}, 0, 3000};  // every IPv4 service and api6 stuck
    fake.replies["ipv6.icanhazip.com/"] = {200, {"2001:db8::5"}, {}, 0, 150};
    HANDLE holder = CreateThread(nullptr, 0, HoldLogLock, &window.logPath, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(lockHeld, 5000), WAIT_OBJECT_0);
    tickedAt = 0;
    SetTimer(nullptr, 0, 2000, RecordTick);
    cycle.Command1_Click();
    const DWORD returnedAt = GetTickCount();
    WaitForSingleObject(holder, 5000);
    CloseHandle(holder);
    EXPECT_EQ(Log(), "2001:db8::5\r\n");
    ASSERT_NE(tickedAt, 0u);
    EXPECT_GT(returnedAt - tickedAt, 300u) << "the window waited for the write";
    for (const DWORD start = GetTickCount(); cycle.Unfinished() && GetTickCount() - start < 5000;) Sleep(50);
}
