// Servers that never finish: each cycle must end within its bound.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <mutex>

#include "net/FakeWindow.h"
#include "net/RefreshCycle.h"
#include "support/TestSupport.h"

using namespace quillon;

namespace {

constexpr DWORD kBoundMs = 45000;

// The real WinInet, with every handle it opens and each close counted:
// opens less closes, by handle (below 0: closed twice).
std::mutex countLock;
std::map<HINTERNET, int> openCount;
HINTERNET Opened(HINTERNET h) {
    const std::lock_guard<std::mutex> held(countLock);
    if (h) ++openCount[h];
    return h;
}
HINTERNET WINAPI CountOpen(LPCSTR a, DWORD b, LPCSTR c, LPCSTR d, DWORD e) {
    return Opened(net::RealWinInet().InternetOpenA(a, b, c, d, e));
}
HINTERNET WINAPI CountConnect(HINTERNET a, LPCSTR b, INTERNET_PORT c, LPCSTR d, LPCSTR e, DWORD f, DWORD g,
                              DWORD_PTR i) {
    return Opened(net::RealWinInet().InternetConnectA(a, b, c, d, e, f, g, i));
}
HINTERNET WINAPI CountOpenRequest(HINTERNET a, LPCSTR b, LPCSTR c, LPCSTR d, LPCSTR e, LPCSTR* f, DWORD g,
                                  DWORD_PTR i) {
    return Opened(net::RealWinInet().HttpOpenRequestA(a, b, c, d, e, f, g, i));
}
BOOL WINAPI CountClose(HINTERNET h) {
    {
        const std::lock_guard<std::mutex> held(countLock);
        --openCount[h];
    }
    return net::RealWinInet().InternetCloseHandle(h);
}

class SlowServer : public ::testing::Test {
protected:
    void SetUp() override {
        window.logPath = dir / L"IP_log.txt";
        // Shorter than the program's, so the suite stays quick.
        cycle.limits.timeoutMs = 5000;
        cycle.limits.totalMs = 12000;
    }

    DWORD TimedFetch(const std::string& host, const std::string& proxy) {
        const DWORD start = GetTickCount();
        cycle.servers = net::BuiltInServers(host);
        cycle.proxy = proxy;
        cycle.Command1_Click();
        result = cycle.Failures().empty();
        const DWORD elapsed = GetTickCount() - start;
        std::printf("[ timing ] %s via %s: %lu ms\n", host.c_str(), proxy.empty() ? "system proxy" : proxy.c_str(),
                    static_cast<unsigned long>(elapsed));
        return elapsed;
    }
    std::string StallProxy(const char* mode) {
        const int port = test::FixturePort("stall", std::string(mode) + ".port");
        EXPECT_NE(port, 0) << mode;
        return "127.0.0.1:" + std::to_string(port);
    }
    void ExpectNothingLogged() {
        EXPECT_FALSE(result);
        EXPECT_EQ(window.address, L"unchanged");
        EXPECT_FALSE(test::FileExists(window.logPath));
    }

    test::TempDir dir;
    test::FakeWindow window;
    net::RefreshCycle cycle{window, "ip.varnhold.example"};
    bool result = true;
};

}  // namespace

TEST_F(SlowServer, AReplyThatTricklesEndsAtTheExchangesTimeWhereverItTrickles) {
    // The body after prompt headers, and the header itself, which no
    // time-out of WinInet's ends.
    for (const auto& [host, proxy] : {std::pair<std::string, std::string>{"trickle.test", ""},
                                      {"ip.varnhold.example", StallProxy("headers")}}) {
        const DWORD ms = TimedFetch(host, proxy);
        EXPECT_GE(ms, cycle.limits.totalMs) << host;
        EXPECT_LT(ms, cycle.limits.totalMs + 3000) << host;
        ExpectNothingLogged();
    }
}

TEST_F(SlowServer, AServerThatStallsAfterItsHeadersTimesOut) {
    const DWORD ms = TimedFetch("ip.varnhold.example", StallProxy("stall"));
    EXPECT_LT(ms, kBoundMs);
    ExpectNothingLogged();
}

TEST_F(SlowServer, AServerThatAcceptsAndNeverAnswersTimesOut) {
    const DWORD ms = TimedFetch("ip.varnhold.example", StallProxy("silent"));
    EXPECT_LT(ms, kBoundMs);
    ExpectNothingLogged();
}

TEST_F(SlowServer, AReplyCutOffMidBodyLogsNothing) {
    const DWORD ms = TimedFetch("ip.varnhold.example", StallProxy("cutoff"));
    EXPECT_LT(ms, kBoundMs);
    ExpectNothingLogged();
}

// A first server that trickles its header forever: its request is closed
// when the second answers, and passed over while its thread is still in
// WinInet (Wine ends no call whose handle closes), so nothing piles up. At
// the end, its thread is waited for a second, and every handle has been
// closed exactly once.
TEST_F(SlowServer, ARequestStuckInATrickleIsPassedOverUntilItEndsAndTheEndWaitsASecond) {
    const net::WinInetApi saved = net::WinInet();
    net::WinInet().InternetOpenA = CountOpen;
    net::WinInet().InternetConnectA = CountConnect;
    net::WinInet().HttpOpenRequestA = CountOpenRequest;
    net::WinInet().InternetCloseHandle = CountClose;
    const std::wstring port = std::to_wstring(test::FixturePort("stall", "headers.port"));
    cycle.servers = *net::ParseServerUrls(L"http://127.0.0.1:" + port + L"/ip.shtml http://ip.varnhold.example/ip.shtml");
    cycle.limits.hedgeMs = 300;
    window.silent = true;  // no connection kept, as at a scheduled run's end
    std::string lines;
    for (int refresh = 0; refresh < 10; ++refresh) {
        cycle.Command1_Click();
        lines += "127.0.0.1\r\n";
        EXPECT_LE(cycle.Unfinished(), 1u) << refresh;
    }
    EXPECT_EQ(test::ReadBytes(window.logPath), lines);
    ASSERT_EQ(cycle.Failures().size(), 1u);
    EXPECT_NE(cycle.Failures()[0].why.find(L"earlier refresh"), std::wstring::npos);
    const DWORD start = GetTickCount();
    cycle.Shutdown(1000);
    EXPECT_LT(GetTickCount() - start, 1200u);
    net::WinInet() = saved;
    // The request still in its call (the trickle never ends it) is closed
    // by its thread when the call returns, never under it; every other
    // handle is closed, and none twice.
    int leftOpen = 0;
    for (const auto& [h, n] : openCount) {
        EXPECT_GE(n, 0) << "closed twice";
        leftOpen += n;
    }
    EXPECT_LE(leftOpen, 1);
}
