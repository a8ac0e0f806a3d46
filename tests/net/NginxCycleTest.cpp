// The refresh cycle with the real WinInet against the test nginx, which the
// system proxy setting of the test run points at.
#include <gtest/gtest.h>

#include "net/FakeWindow.h"
#include "net/RefreshCycle.h"
#include "support/TestSupport.h"

using namespace quillon;

namespace {

class NginxCycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(test::FixturePort("nginx", "port"), 0) << "the nginx fixture is not running";
        window.logPath = dir / L"IP_log.txt";
    }
    std::string Log() { return test::ReadBytes(window.logPath); }

    // One cycle against the given host, as the refresh button runs it.
    bool Fetch(const std::string& host, const std::string& proxy = "") {
        cycle.servers = net::BuiltInServers(host);
        cycle.proxy = proxy;
        cycle.Command1_Click();
        return cycle.Failures().empty();
    }

    test::TempDir dir;
    test::FakeWindow window;
    net::RefreshCycle cycle{window, "ip.varnhold.example"};
};

}  // namespace

TEST_F(NginxCycle, LogsTheServedAddressAppendingOneLinePerCycle) {
    cycle.Command1_Click();
    EXPECT_EQ(window.address, test::kLoopback);
    EXPECT_EQ(Log(), "127.0.0.1\r\n");
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "127.0.0.1\r\n127.0.0.1\r\n");
}

TEST_F(NginxCycle, OverwriteKeepsOnlyTheLastLine) {
    test::WriteBytes(window.logPath, "old line\r\nolder line\r\n");
    window.overwrite = 1;
    cycle.Command1_Click();
    cycle.Command1_Click();
    EXPECT_EQ(Log(), "127.0.0.1\r\n");
}

TEST_F(NginxCycle, DateAndTimeFollowTheAddress) {
    window.date = 1;
    cycle.Command1_Click();
    const std::string line = Log();
    ASSERT_EQ(line.rfind("127.0.0.1 - ", 0), 0u) << line;
    // Short date, a blank, long time, CR LF: "M/D/YYYY H:MM:SS AM" under US English.
    EXPECT_NE(line.find('/'), std::string::npos) << line;
    EXPECT_NE(line.find(':'), std::string::npos) << line;
    EXPECT_TRUE(line.ends_with("M\r\n")) << line;
}

TEST_F(NginxCycle, ABodyOverSeveralChunksIsReadWholeAndTrimmed) {
    EXPECT_TRUE(Fetch("padded.test"));
    EXPECT_EQ(window.address, L"198.51.100.23");
    EXPECT_EQ(Log(), "198.51.100.23\r\n");
    EXPECT_TRUE(Fetch("ipv6.test"));
    EXPECT_EQ(window.address, L"2001:db8::7");
}

TEST_F(NginxCycle, RepliesThatAreNotAnAddressLogNothing) {
    for (const char* host : {"status404.test", "status500.test", "html.test", "empty.test", "big.test",
                             "cutoff.test"}) {
        window.address = L"unchanged";
        EXPECT_FALSE(Fetch(host)) << host;
        EXPECT_EQ(window.address, L"unchanged") << host;
        EXPECT_FALSE(test::FileExists(window.logPath)) << host;
        EXPECT_FALSE(cycle.hSession || cycle.hConnect) << host;
    }
}

TEST_F(NginxCycle, AClosedProxyPortOrAnUnresolvableHostEndsTheCycleQuietly) {
    const int closed = test::FixturePort("nginx", "closed-port");
    ASSERT_NE(closed, 0);
    EXPECT_FALSE(Fetch("ip.varnhold.example", "127.0.0.1:" + std::to_string(closed)));
    window.silent = true;
    cycle.proxy.clear();
    cycle.servers = net::BuiltInServers("unresolvable.invalid");
    cycle.Command1_Click();
    EXPECT_EQ(window.address, L"unchanged");
    EXPECT_FALSE(test::FileExists(window.logPath));
    EXPECT_EQ(window.unloads, 1);
    EXPECT_FALSE(window.lastLogged);
    EXPECT_EQ(window.problemText, L"http://unresolvable.invalid/ip.shtml: the name was not found");
}
