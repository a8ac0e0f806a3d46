// The real Quillon.exe with a url and changes=1 in its settings, against
// the test nginx on another port (HTTPS: https-test.sh).
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include "e2e/QuillonProcess.h"
#include "e2e/Screenshot.h"
#include "support/TestSupport.h"

using namespace quillon;
using namespace quillon::test;

namespace {

constexpr DWORD kBoundMs = 45000;

BOOL CALLBACK CollectText(HWND hwnd, LPARAM lp) {
    wchar_t text[4096] = L"";
    GetWindowTextW(hwnd, text, 4096);
    *reinterpret_cast<std::wstring*>(lp) += std::wstring(text) + L"\n";
    return TRUE;
}

class ServerSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(FixturePort("nginx", "port"), 0) << "the nginx fixture is not running"; }

    std::wstring Log() const { return dir / L"IP_log.txt"; }
    std::wstring SettingsFile() const { return dir / L"Quillon_settings.ini"; }
    static std::string Url(const char* scheme, const char* portFile, const char* path) {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(FixturePort("nginx", portFile)) + path;
    }
    void WriteSettings(const std::string& lines) {
        const std::wstring log = Log();
        WriteBytes(SettingsFile(), "[Main]\r\nlog=" + std::string(log.begin(), log.end()) + "\r\n" + lines);
    }
    long SilentRun() {
        QuillonProcess q(dir.path());
        if (!q.Start(L"-s")) return -2;
        return q.WaitForExit(kBoundMs);
    }

    // Why the last silent run ended other than 0, as its file says it.
    std::wstring LastError() const {
        const std::string bytes = ReadBytes(dir / L"Quillon_last_error.txt");
        if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return L"";
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    }

    TempDir dir;
};

}  // namespace

TEST_F(ServerSettings, AUrlWithAnotherPortAndPathIsAskedInsteadOfTheBuiltInServer) {
    WriteSettings("url=" + Url("http", "port-other", "/myip") + "\r\n");
    EXPECT_EQ(SilentRun(), 0);
    EXPECT_EQ(ReadBytes(Log()), "127.0.0.1\r\n");
}

// The server checks the Host header a browser would send: the address in
// brackets, then the port.
TEST_F(ServerSettings, AnIpv6AddressReachesItsServerAsABrowserWould) {
    if (!FixturePort("nginx", "port-v6")) GTEST_SKIP() << "this machine has no IPv6 loopback";
    WriteSettings("url=http://[::1]:" + std::to_string(FixturePort("nginx", "port-v6")) + "/a\r\n");
    EXPECT_EQ(SilentRun(), 0);
    EXPECT_EQ(ReadBytes(Log()), "::1\r\n");
}

// ipv6=1: url asked for IPv4 and url6 for IPv6, a line of each, and a url6
// that is not accepted is said as a url is (2).
TEST_F(ServerSettings, WithIpv6BothFamiliesAreLoggedAndEachMustAnswerItsOwn) {
    if (!FixturePort("nginx", "port-v6")) GTEST_SKIP() << "this machine has no IPv6 loopback";
    const std::string v4 = "url=" + Url("http", "port-other", "/myip") + "\r\n";
    const std::string v6 = "http://[::1]:" + std::to_string(FixturePort("nginx", "port-v6")) + "/a";
    WriteSettings("ipv6=1\r\n" + v4 + "url6=" + v6 + "\r\n");
    EXPECT_EQ(SilentRun(), 0);
    EXPECT_EQ(ReadBytes(Log()), "127.0.0.1\r\n::1\r\n");
    WriteSettings("ipv6=1\r\n" + v4 + "url6=" + v6 + " ftp://[::1]/\r\n");
    EXPECT_EQ(SilentRun(), 2);
    // An IPv6 page that never answers: the window comes with the IPv4
    // address, not after the cycle's 40 seconds.
    const std::string silent = "http://127.0.0.1:" + std::to_string(FixturePort("stall", "silent.port")) + "/";
    WriteSettings("ipv6=1\r\n" + v4 + "url6=" + silent + "\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow(5000));
    EXPECT_EQ(q.Text(IDC_TEXT1), L"127.0.0.1");
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
}

TEST_F(ServerSettings, AUrlThatIsNotAcceptedIsSaidAndNothingIsFetchedOrWritten) {
    // Blanks around the values: a write-back would change the file.
    const std::wstring log = Log();
    const std::string settings = "[Main]\r\nlog = " + std::string(log.begin(), log.end()) +
                                 "\r\noverwrite = 1\r\nurl = http://127.0.0.1/ip ftp://127.0.0.1/ip\r\n";
    WriteBytes(SettingsFile(), settings);
    EXPECT_EQ(SilentRun(), 2);
    EXPECT_FALSE(FileExists(Log()));
    EXPECT_EQ(ReadBytes(SettingsFile()), settings);
    EXPECT_NE(LastError().find(L"url=http://127.0.0.1/ip ftp://127.0.0.1/ip"), std::wstring::npos) << ::testing::PrintToString(LastError());

    // A normal start says so once, then shows the window, which fetches nothing.
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    HWND box = nullptr;
    for (DWORD start = GetTickCount(); !box && GetTickCount() - start < 30000; Sleep(50))
        box = FindProcessWindow(q.Pid(), L"#32770", true);
    ASSERT_NE(box, nullptr) << "no message box";
    std::wstring said;
    EnumChildWindows(box, CollectText, reinterpret_cast<LPARAM>(&said));
    EXPECT_NE(said.find(L"url"), std::wstring::npos);
    EXPECT_NE(said.find(L"ftp://127.0.0.1/ip"), std::wstring::npos);
    EXPECT_NE(said.find(L"https://"), std::wstring::npos) << "what is accepted";
    EXPECT_TRUE(SaveWindowShot(box, "url-not-accepted"));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Text(IDC_TEXT1), L"");
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    EXPECT_EQ(q.Text(IDC_TEXT1), L"");
    EXPECT_FALSE(FileExists(Log()));
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
}

TEST_F(ServerSettings, WithChangesOnlyAnAddressIsLoggedOnlyWhenItDiffersFromTheLastLine) {
    const std::string same = "url=" + Url("http", "port-other", "/myip") + "\r\n";
    const std::string other = "url=" + Url("http", "port-other", "/other-ip") + "\r\n";
    for (const std::string& url : {same, same, other, other, same}) {
        WriteSettings("changes=1\r\n" + url);
        EXPECT_EQ(SilentRun(), 0);
    }
    EXPECT_EQ(ReadBytes(Log()), "127.0.0.1\r\n198.51.100.77\r\n127.0.0.1\r\n");

    // With the date: the date is not part of the address. With overwrite,
    // the one line stays as it was while the address holds.
    DeleteFileW(Log().c_str());
    WriteSettings("changes=1\r\ndate=1\r\noverwrite=1\r\n" + same);
    EXPECT_EQ(SilentRun(), 0);
    const std::string first = ReadBytes(Log());
    EXPECT_EQ(first.rfind("127.0.0.1 - ", 0), 0u) << first;
    Sleep(1100);  // a later second, which a rewritten line would show
    EXPECT_EQ(SilentRun(), 0);
    EXPECT_EQ(ReadBytes(Log()), first);
    WriteSettings("changes=1\r\ndate=1\r\noverwrite=1\r\n" + other);
    EXPECT_EQ(SilentRun(), 0);
    EXPECT_EQ(ReadBytes(Log()).rfind("198.51.100.77 - ", 0), 0u) << ReadBytes(Log());
    EXPECT_EQ(ReadBytes(Log()).find("\r\n"), ReadBytes(Log()).size() - 2);
}

// every=1: a silent run fetches once and ends; the window refreshes itself a
// minute after the start, says that the address changed, and refreshes once
// soon after the machine wakes.
TEST_F(ServerSettings, EveryMinuteTheWindowRefreshesItselfAndSaysAChange) {
    const std::wstring answer = WinePath(Env("QUILLON_FIXTURES") + "/nginx/www/every-answer.txt");
    WriteBytes(answer, "198.51.100.1\n");
    WriteSettings("every=1\r\nurl=" + Url("http", "port-other", "/every-answer.txt") + "\r\n");
    EXPECT_EQ(SilentRun(), 0);
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Balloon(500), L"") << "the same address is no change";
    const std::string two = "198.51.100.1\r\n198.51.100.1\r\n";
    EXPECT_EQ(ReadBytes(Log()), two);
    WriteBytes(answer, "198.51.100.2\n");
    const DWORD start = GetTickCount();
    while (ReadBytes(Log()) == two && GetTickCount() - start < 75000) Sleep(200);
    const DWORD waited = GetTickCount() - start;
    EXPECT_EQ(ReadBytes(Log()), two + "198.51.100.2\r\n");
    EXPECT_GT(waited, 50000u);
    EXPECT_EQ(q.Text(IDC_TEXT1), L"198.51.100.2");
    // A balloon shows while its window is the active one; in a minute,
    // another test's window may have become it.
    SetForegroundWindow(q.Window());
    const std::wstring said = q.Balloon();
    EXPECT_NE(said.find(L"Before: 198.51.100.1"), std::wstring::npos) << std::string(said.begin(), said.end());
    EXPECT_TRUE(SaveWindowShot(q.Window(), "address-changed", FindProcessWindow(q.Pid(), TOOLTIPS_CLASSW, true)));
    // The machine wakes (the system says it twice): one refresh soon, not two.
    const std::string three = ReadBytes(Log());
    PostMessageW(q.Window(), WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    PostMessageW(q.Window(), WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
    Sleep(8000);
    EXPECT_EQ(ReadBytes(Log()), three + "198.51.100.2\r\n");
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
    DeleteFileW(answer.c_str());
}
