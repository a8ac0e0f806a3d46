// Servers that never finish: each cycle must end within its bound.
#include <gtest/gtest.h>

#include <cstdio>

#include "net/FakeWindow.h"
#include "net/RefreshCycle.h"
#include "support/TestSupport.h"

using namespace quillon;

namespace {

constexpr DWORD kBoundMs = 45000;

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
