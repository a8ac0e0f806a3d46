// How a run ends, from what its last refresh found and logged: the one map
// from an outcome to an exit code, over every combination of families
// found, failed, not asked, logged and not logged.
#include <gtest/gtest.h>

#include "net/Outcome.h"

using namespace quillon;
using net::RunEnd;

namespace {

// Each family: 'f' found, 'x' failed, '-' not asked.
net::Outcome Made(char v4, char v6, bool logged) {
    net::Outcome o;
    o.ask.ipv6 = v6 != '-';
    o.ask.silent = true;
    o.families[net::kIpv4].asked = true;
    o.families[net::kIpv4].address = v4 == 'f' ? L"203.0.113.7" : L"";
    o.families[net::kIpv6].asked = v6 != '-';
    o.families[net::kIpv6].address = v6 == 'f' ? L"2001:db8::5" : L"";
    for (const auto family : {net::kIpv4, net::kIpv6})
        if (o.families[family].asked && !o.families[family].Found())
            o.failures.push_back({L"https://x.example/", L"no answer in time", family, true});
    o.logDone = logged && (v4 == 'f' || v6 == 'f');
    o.logError = o.logDone ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    return o;
}

}  // namespace

TEST(Outcome, EachRunEndsWithTheCodeTheReadmeGives) {
    struct Case {
        char v4, v6;
        bool logged;
        int code;
    };
    const Case cases[] = {
        {'f', '-', true, 0}, {'f', '-', false, 1}, {'x', '-', true, 1}, {'x', '-', false, 1},
        {'f', 'f', true, 0}, {'f', 'f', false, 1}, {'f', 'x', true, 3}, {'x', 'f', true, 3},
        {'f', 'x', false, 1}, {'x', 'f', false, 1}, {'x', 'x', true, 1}, {'x', 'x', false, 1},
    };
    for (const Case& c : cases) {
        const net::Outcome o = Made(c.v4, c.v6, c.logged);
        const std::string name = std::string{c.v4, c.v6} + (c.logged ? " logged" : " not logged");
        EXPECT_EQ(net::ExitCode(RunEnd::Refreshed, &o, true), c.code) << name;
        // Closed after the refresh settled: as the outcome says.
        EXPECT_EQ(net::ExitCode(RunEnd::Closed, &o, true), c.code) << name;
        // A settings change that never reached the file fails a run that logged.
        EXPECT_EQ(net::ExitCode(RunEnd::Refreshed, &o, false), 1) << name;
        // Words for the file a scheduled run leaves, wherever the code is not 0.
        EXPECT_EQ(net::EndWords(RunEnd::Refreshed, &o, true).empty(), c.code == 0) << name;
    }
    // Ends that no refresh decides.
    EXPECT_EQ(net::ExitCode(RunEnd::Closed, nullptr, true), 1);
    EXPECT_NE(net::EndWords(RunEnd::Closed, nullptr, true).find(L"closed"), std::wstring::npos);
    EXPECT_EQ(net::ExitCode(RunEnd::SettingsRejected, nullptr, true), 2);
}
