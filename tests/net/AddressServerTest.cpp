#include <gtest/gtest.h>

#include "net/AddressServer.h"

using quillon::net::ParseServerUrl;

TEST(ServerUrl, AcceptsHttpAndHttpsWithAHostAnOptionalPortPathAndQuery) {
    struct Accepted {
        const wchar_t* url;
        const char* host;
        unsigned port;
        const char* object;
        bool secure;
    };
    for (const Accepted& a : {
             Accepted{L"https://ip.example.org/ip.shtml", "ip.example.org", 443, "/ip.shtml", true},
             Accepted{L"http://192.0.2.7:8080/myip", "192.0.2.7", 8080, "/myip", false},
             Accepted{L"HTTP://IP.Example.ORG", "ip.example.org", 80, "/", false},
             Accepted{L"hTTps://h:1/", "h", 1, "/", true},
             Accepted{L"http://h:65535?x=1", "h", 65535, "/?x=1", false},
             Accepted{L"https://[2001:db8::7]:8443/a/b?c=d&e=%2F", "[2001:db8::7]", 8443, "/a/b?c=d&e=%2F", true},
             Accepted{L"http://[::1]/ip", "[::1]", 80, "/ip", false},
             Accepted{L"http://my-host.example/~me/ip;v=1", "my-host.example", 80, "/~me/ip;v=1", false},
         }) {
        std::wstring problem;
        const auto server = ParseServerUrl(a.url, &problem);
        ASSERT_TRUE(server) << testing::PrintToString(std::wstring(a.url)) << ": " << testing::PrintToString(problem);
        EXPECT_EQ(server->host, a.host) << a.host;
        EXPECT_EQ(server->port, a.port) << a.host;
        EXPECT_EQ(server->object, a.object) << a.host;
        EXPECT_EQ(server->secure, a.secure) << a.host;
    }
    const std::wstring longest = L"http://h/" + std::wstring(2048 - 9, L'a');
    EXPECT_TRUE(ParseServerUrl(longest));
}

TEST(ServerUrl, RefusesEverythingElseAndSaysWhy) {
    for (const wchar_t* url : {
             L"", L"ip.example.org/ip.shtml", L"ftp://h/ip", L"file:///C:/ip.txt", L"https:/h/ip", L"http//h",
             L"http://", L"http:///ip", L"http://:8080/ip", L"http://user@h/ip", L"http://user:pw@h/ip",
             L"http://h/ip#top", L"http://h/my ip", L"http://h/ip\t", L"http://h/\x7f", L"http://h:0/",
             L"http://h:65536/", L"http://h:/", L"http://h:80a/", L"http://h:-1/", L"http://h:99999999999/",
             L"http://[2001:db8::7/", L"http://[2001:db8::7]x/", L"http://[not:an:address]/", L"http://2001:db8::7/",
             L"http://h_1/", L"http://-h/", L"http://h-/", L"http://a..b/", L"http://999.1.2.3/", L"http://1.2.3/",
             L"http://h/\\ip", L"http://h/%zz", L"http://h/%2", L"http://h/<ip>", L"http://b\u00fccher.example/",
         }) {
        std::wstring problem;
        EXPECT_FALSE(ParseServerUrl(url, &problem)) << testing::PrintToString(std::wstring(url));
        EXPECT_FALSE(problem.empty()) << testing::PrintToString(std::wstring(url));
    }
    EXPECT_FALSE(ParseServerUrl(L"http://h/" + std::wstring(2048 - 8, L'a')));  // 2049 characters
}
