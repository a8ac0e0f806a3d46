// The real Quillon.exe, as a user gets it, against the test nginx that the
// prefix's proxy setting points at.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "e2e/QuillonProcess.h"
#include "e2e/Screenshot.h"
#include "support/TestSupport.h"
#include "ui/OptionsMenu.h"
#include "ui/TrayIcon.h"

using namespace quillon;
using namespace quillon::test;

namespace {

constexpr DWORD kBoundMs = 45000;
// What the watchdog gives a silent run, whatever holds it.
constexpr DWORD kSilentLimitMs = 60000;

// Wine's per-program DLL overrides (read when a program starts): the
// named libraries are taken from a native copy first, wherever the search
// finds one. Removed again at the end.
class PreferNative {
public:
    PreferNative(const std::vector<std::wstring>& programs, const std::vector<std::wstring>& libraries)
        : programs_(programs) {
        for (const std::wstring& program : programs_)
            for (const std::wstring& library : libraries)
                RegSetKeyValueW(HKEY_CURRENT_USER, Key(program).c_str(), library.c_str(), REG_SZ, L"native,builtin",
                                sizeof L"native,builtin");
    }
    ~PreferNative() {
        for (const std::wstring& program : programs_) {
            RegDeleteTreeW(HKEY_CURRENT_USER, Key(program).c_str());
            RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + program).c_str());
        }
    }
    PreferNative(const PreferNative&) = delete;
    PreferNative& operator=(const PreferNative&) = delete;

private:
    static std::wstring Key(const std::wstring& program) {
        return L"Software\\Wine\\AppDefaults\\" + program + L"\\DllOverrides";
    }
    std::vector<std::wstring> programs_;
};

// A balloon the process shows within waitMs, and its text.
std::pair<HWND, std::wstring> Balloon(const QuillonProcess& q, DWORD waitMs = 3000) {
    const std::wstring text = q.Balloon(waitMs);
    return {FindProcessWindow(q.Pid(), TOOLTIPS_CLASSW, true), text};
}

class Quillon : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(FixturePort("nginx", "port"), 0) << "the nginx fixture is not running"; }

    std::wstring LogIn() const { return dir / L"IP_log.txt"; }
    std::string Settings() const { return ReadBytes(dir / L"Quillon_settings.ini"); }
    void WriteSettings(const std::string& body) { WriteBytes(dir / L"Quillon_settings.ini", "[Main]\r\n" + body); }
    std::string Ansi(const std::wstring& w) const {
        return std::string(w.begin(), w.end());  // the tests' paths are ASCII
    }

    TempDir dir;
};

}  // namespace

TEST_F(Quillon, FirstStartShowsTheAddressAndTheDefaultsAndSavesOnlyTheLog) {
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Text(IDC_TEXT1), kLoopback);  // fetched before the window appeared
    EXPECT_EQ(q.Text(IDC_TEXT2), LogIn());     // beside the program
    EXPECT_EQ(q.Check(IDC_CHECK1), BST_UNCHECKED);
    EXPECT_EQ(q.Check(IDC_CHECK2), BST_UNCHECKED);
    EXPECT_EQ(Settings(), "[Main]\r\nlog=" + Ansi(LogIn()) + "\r\n");
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");
    EXPECT_EQ(FindProcessWindow(q.Pid(), TOOLTIPS_CLASSW, true), nullptr) << "nothing went wrong";
    EXPECT_TRUE(SaveWindowShot(q.Window(), "first-start"));
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
}

TEST_F(Quillon, RestoresAllThreeSettingsAndLeavesTheFileAsItWas) {
    const std::string settings = "log=" + Ansi(LogIn()) + "\r\noverwrite=1\r\ndate=1\r\n";
    WriteSettings(settings);
    WriteBytes(LogIn(), "old\r\nlines\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Text(IDC_TEXT2), LogIn());
    EXPECT_EQ(q.Check(IDC_CHECK1), BST_CHECKED);
    EXPECT_EQ(q.Check(IDC_CHECK2), BST_CHECKED);
    EXPECT_EQ(Settings(), "[Main]\r\n" + settings);
    const std::string log = ReadBytes(LogIn());  // overwritten, with date and time
    EXPECT_EQ(log.rfind("127.0.0.1 - ", 0), 0u) << log;
    EXPECT_EQ(log.find("\r\n"), log.size() - 2) << log;
}

TEST_F(Quillon, GrayedAndForeignStatesAndStrippedPathsAtLoad) {
    WriteSettings("log=  \"" + Ansi(LogIn()) + "\"  \r\noverwrite=2\r\ndate=abc\r\n");
    WriteBytes(LogIn(), "old line\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Text(IDC_TEXT2), LogIn());  // blanks and quotes gone
    EXPECT_EQ(q.Check(IDC_CHECK1), BST_INDETERMINATE);
    EXPECT_EQ(q.Check(IDC_CHECK2), BST_UNCHECKED);
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");  // grayed overwrite counts as on
    // The path read is the box's design text, beside the program: nothing is written back.
    EXPECT_EQ(Settings(), "[Main]\r\nlog=  \"" + Ansi(LogIn()) + "\"  \r\noverwrite=2\r\ndate=abc\r\n");
}

TEST_F(Quillon, ALongLogPathSurvivesRestartsWhole) {
    const std::wstring longPath = dir / (std::wstring(300 - dir.path().size() - 5, L'p') + L".txt");
    ASSERT_EQ(longPath.size(), 300u);
    WriteSettings("log=" + Ansi(longPath) + "\r\n");
    for (int run = 0; run < 2; ++run) {
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start());
        ASSERT_TRUE(q.WaitForWindow());
        EXPECT_EQ(q.Text(IDC_TEXT2), longPath) << run;
        PostMessageW(q.Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(10000), 0);
    }
    EXPECT_EQ(Settings(), "[Main]\r\nlog=" + Ansi(longPath) + "\r\n");
}

TEST_F(Quillon, TheButtonAndBoxesActAndEveryChangeIsSavedAtOnce) {
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n127.0.0.1\r\n");

    SendMessageW(q.Item(IDC_CHECK1), BM_CLICK, 0, 0);
    EXPECT_EQ(q.Check(IDC_CHECK1), BST_CHECKED);
    EXPECT_NE(Settings().find("overwrite=1\r\n"), std::string::npos) << Settings();
    SendMessageW(q.Item(IDC_CHECK2), BM_CLICK, 0, 0);
    EXPECT_NE(Settings().find("date=1\r\n"), std::string::npos) << Settings();
    SendMessageW(q.Item(IDC_CHECK2), BM_CLICK, 0, 0);
    EXPECT_EQ(q.Check(IDC_CHECK2), BST_UNCHECKED);
    EXPECT_NE(Settings().find("date=0\r\n"), std::string::npos) << Settings();

    const std::wstring other = dir / L"other.txt";
    SendMessageW(q.Item(IDC_TEXT2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(other.c_str()));
    EXPECT_NE(Settings().find("log=" + Ansi(other) + "\r\n"), std::string::npos) << Settings();
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);  // overwrite is on now
    EXPECT_EQ(ReadBytes(other), "127.0.0.1\r\n");
}

TEST_F(Quillon, SilentModeLogsAndEndsWithoutAWindow) {
    // A relative log lies beside the program, whatever folder a scheduled
    // task starts it in.
    const std::wstring elsewhere = dir / L"elsewhere";
    CreateDirectoryW(elsewhere.c_str(), nullptr);
    for (const wchar_t* arg : {L"-s", L"-S"}) {
        const bool relative = arg[1] == L'S';
        WriteSettings("log=" + (relative ? std::string("IP_log.txt") : Ansi(LogIn())) + "\r\n");
        DeleteFileW(LogIn().c_str());
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start(arg, relative ? elsewhere : L""));
        long code = -1;
        EXPECT_FALSE(q.EverVisibleUntilExit(kBoundMs, code)) << arg;
        EXPECT_EQ(code, 0) << arg;
        EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n") << arg;
    }
    EXPECT_FALSE(FileExists(elsewhere + L"\\IP_log.txt"));
    EXPECT_EQ(Settings(), "[Main]\r\nlog=IP_log.txt\r\n") << "kept as typed";
}

TEST_F(Quillon, SilentModeWithoutAnAddressEndsWithExitCodeOne) {
    ProxySetting proxy;
    const std::vector<std::wstring> servers = {
        L"127.0.0.1:" + std::to_wstring(FixturePort("nginx", "port404")),
        L"127.0.0.1:" + std::to_wstring(FixturePort("nginx", "closed-port"))};
    for (const std::wstring& server : servers) {
        proxy.Set(server);
        WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
        QuillonProcess q(dir.path());
        const DWORD start = GetTickCount();
        ASSERT_TRUE(q.Start(L"-s"));
        long code = -1;
        EXPECT_FALSE(q.EverVisibleUntilExit(kBoundMs, code));
        EXPECT_EQ(code, 1);
        EXPECT_LT(GetTickCount() - start, kBoundMs);
        EXPECT_FALSE(FileExists(LogIn()));
    }
}

TEST_F(Quillon, ASilentRunEndsWithinAMinuteWhateverHoldsIt) {
    // A server that trickles its header bytes holds the request itself for
    // as long as it trickles; no time-out of WinInet's ends it. The
    // exchange's own time does, before the minute is up.
    ProxySetting proxy;
    proxy.Set(L"127.0.0.1:" + std::to_wstring(FixturePort("stall", "headers.port")));
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    QuillonProcess q(dir.path());
    const DWORD start = GetTickCount();
    ASSERT_TRUE(q.Start(L"-s"));
    long code = -1;
    EXPECT_FALSE(q.EverVisibleUntilExit(kSilentLimitMs + 30000, code));
    const DWORD elapsed = GetTickCount() - start;
    std::printf("[ timing ] silent run against a server trickling its headers: %lu ms\n",
                static_cast<unsigned long>(elapsed));
    EXPECT_EQ(code, 1);
    EXPECT_LT(elapsed, kSilentLimitMs - 10000);
    EXPECT_FALSE(FileExists(LogIn()));
}

TEST_F(Quillon, ALogPathInGreekAndJapaneseTypedInSurvivesARestart) {
    const std::wstring folder = dir / L"\u03a9mega \u65e5\u672c";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring log = folder + L"\\\u0436\u0443\u0440\u043d\u0430\u043b \u2013 IP.txt";
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    {
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start());
        ASSERT_TRUE(q.WaitForWindow());
        // Typed as a user types it, one character at a time.
        SendMessageW(q.Item(IDC_TEXT2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
        for (wchar_t c : log) SendMessageW(q.Item(IDC_TEXT2), WM_CHAR, c, 1);
        EXPECT_EQ(q.Text(IDC_TEXT2), log);
        SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
        PostMessageW(q.Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(10000), 0);
    }
    EXPECT_EQ(Settings().rfind("\xFF\xFE", 0), 0u) << "not UTF-16: " << Settings();
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_EQ(q.Text(IDC_TEXT2), log);
    EXPECT_EQ(ReadBytes(log), "127.0.0.1\r\n127.0.0.1\r\n");  // the click, and the start
}

TEST_F(Quillon, DllsPlantedBesideTheProgramAreNeverLoaded) {
    // Copies of a marker DLL under the names of libraries that Quillon, or
    // the system libraries it uses, load by name; Wine is told to prefer a
    // copy beside the program, as Windows does for every DLL outside its
    // KnownDLLs. Not version.dll: Wine's own user32 imports it at process
    // start, before any of the program's code runs, which Windows' user32
    // does not.
    const std::vector<std::wstring> planted = {L"comctl32", L"uxtheme", L"msimg32", L"wininet", L"mpr"};
    const std::wstring marker = WinePath(Env("QUILLON_BIN") + "/planted_marker.dll");
    for (const std::wstring& name : planted)
        ASSERT_TRUE(CopyFileW(marker.c_str(), (dir / (name + L".dll")).c_str(), FALSE));
    const PreferNative overrides({L"Quillon.exe", L"load_by_name.exe"}, planted);
    const auto loaded = [&] {
        std::vector<std::wstring> found;
        for (const std::wstring& name : planted)
            if (FileExists(dir / (name + L".dll.loaded"))) found.push_back(name);
        return found;
    };

    // The plain load by name does take a planted copy here.
    const std::wstring loader = dir / L"load_by_name.exe";
    ASSERT_TRUE(CopyFileW(WinePath(Env("QUILLON_BIN") + "/load_by_name.exe").c_str(), loader.c_str(), FALSE));
    std::wstring cmd = L"\"" + loader + L"\" mpr.dll";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(loader.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, dir.path().c_str(),
                               &si, &pi));
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_EQ(loaded(), std::vector<std::wstring>{L"mpr"}) << "the planted copies would not be found at all";
    DeleteFileW((dir / L"mpr.dll.loaded").c_str());

    // A silent run, and a normal one with a refresh and a click on the link.
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    {
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start(L"-s"));
        EXPECT_EQ(q.WaitForExit(kBoundMs), 0);
    }
    EXPECT_EQ(loaded(), std::vector<std::wstring>{});
    const std::wstring recordFile = WinePath(Env("QUILLON_BROWSER_LOG"));
    DeleteFileW(recordFile.c_str());
    {
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start());
        ASSERT_TRUE(q.WaitForWindow());
        // A planted library that got in may leave the program hanging.
        SendMessageTimeoutW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
        PostMessageW(q.Item(IDC_LABEL4), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageW(q.Item(IDC_LABEL4), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        const DWORD start = GetTickCount();
        while (!FileExists(recordFile) && GetTickCount() - start < 15000) Sleep(50);
        PostMessageW(q.Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(10000), 0);
    }
    EXPECT_EQ(loaded(), std::vector<std::wstring>{});
    // And it still did its work.
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n127.0.0.1\r\n127.0.0.1\r\n");
    EXPECT_TRUE(FileExists(recordFile)) << "the link opened nothing";
}

TEST_F(Quillon, EveryOtherArgumentMeansNormalMode) {
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    for (const wchar_t* arg : {L"-s x", L"/s", L"-silent", L"s", L""}) {
        QuillonProcess q(dir.path());
        ASSERT_TRUE(q.Start(arg));
        ASSERT_TRUE(q.WaitForWindow()) << "no window for \"" << Ansi(arg) << "\"";
        PostMessageW(q.Window(), WM_CLOSE, 0, 0);
        EXPECT_EQ(q.WaitForExit(10000), 0);
    }
}

TEST_F(Quillon, TheWindowFollowsTheLayoutAndTheKeyboard) {
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    RECT client{};
    GetClientRect(q.Window(), &client);
    EXPECT_EQ(client.right, 306);
    EXPECT_EQ(client.bottom, 159);
    struct Place {
        int id, left, top, width, height;
    };
    for (const Place& p : {Place{IDC_LABEL1, 60, 60, 1755, 225}, Place{IDC_IMAGE1, 4050, 60, 480, 480},
                           Place{IDC_TEXT1, 60, 270, 1785, 270}, Place{IDC_COMMAND1, 1920, 270, 375, 285},
                           Place{IDC_LABEL2, 60, 750, 1605, 225}, Place{IDC_TEXT2, 60, 960, 4455, 270},
                           Place{IDC_CHECK1, 60, 1290, 2085, 255}, Place{IDC_CHECK2, 2220, 1290, 2295, 255},
                           Place{IDC_LABEL3, 60, 1680, 4485, 495}, Place{IDC_IMAGE2, 60, 2100, 240, 240},
                           Place{IDC_LABEL4, 330, 2130, 0, 0}}) {
        RECT r{};
        GetWindowRect(q.Item(p.id), &r);
        MapWindowPoints(nullptr, q.Window(), reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, p.left / 15) << p.id;
        EXPECT_EQ(r.top, p.top / 15) << p.id;
        if (p.width) {
            EXPECT_EQ(r.right - r.left, p.width / 15) << p.id;
        }
        if (p.height) {
            EXPECT_EQ(r.bottom - r.top, p.height / 15) << p.id;
        }
    }
    const LONG_PTR style = GetWindowLongPtrW(q.Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
    EXPECT_EQ(q.Text(IDC_CHECK2), L"Save Date && Time In Log");
    // The tooltips of the refresh button and the address box, made as the
    // window was shown.
    HWND tooltip = FindProcessWindow(q.Pid(), TOOLTIPS_CLASSW, false);
    ASSERT_NE(tooltip, nullptr);
    EXPECT_EQ(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0), 2);

    EXPECT_EQ(q.Focus(), q.Item(IDC_TEXT2));
    for (int id : {IDC_CHECK1, IDC_CHECK2, IDC_COMMAND1, IDC_TEXT1, IDC_TEXT2}) {
        HWND from = q.Focus();
        PostMessageW(from, WM_KEYDOWN, VK_TAB, 0);
        PostMessageW(from, WM_KEYUP, VK_TAB, 0xC0000001);
        const DWORD start = GetTickCount();
        while (q.Focus() == from && GetTickCount() - start < 3000) Sleep(10);
        EXPECT_EQ(q.Focus(), q.Item(id)) << "after Tab from " << GetDlgCtrlID(from);
    }

    // Text1 can be read and selected, not edited.
    EXPECT_TRUE(GetWindowLongPtrW(q.Item(IDC_TEXT1), GWL_STYLE) & ES_READONLY);
    PostMessageW(q.Item(IDC_TEXT1), WM_CHAR, L'9', 0);
    SendMessageW(q.Item(IDC_TEXT1), WM_NULL, 0, 0);  // after the posted key is handled
    EXPECT_EQ(q.Text(IDC_TEXT1), kLoopback);
}

TEST_F(Quillon, BothLinksOpenTheMakersPageAndClosingEndsTheProcess) {
    const std::string record = Env("QUILLON_BROWSER_LOG");
    ASSERT_FALSE(record.empty());
    const std::wstring recordFile = WinePath(record);
    WriteSettings("log=" + Ansi(LogIn()) + "\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    for (int id : {IDC_LABEL4, IDC_IMAGE2}) {
        DeleteFileW(recordFile.c_str());
        PostMessageW(q.Item(id), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
        PostMessageW(q.Item(id), WM_LBUTTONUP, 0, MAKELPARAM(2, 2));
        const DWORD start = GetTickCount();
        while (!FileExists(recordFile) && GetTickCount() - start < 15000) Sleep(50);
        Sleep(100);
        EXPECT_EQ(ReadBytes(recordFile), "https://www.facebook.com/varnhold\n") << id;
    }
    PostMessageW(q.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
}

// A settings file that a writer holds cannot be read: that is said, it is
// never written, and nothing is fetched until it can be read.
TEST_F(Quillon, UnreadableSettingsAreSaidAndNeitherWrittenNorFetchedUntilReadable) {
    const std::string settings = "[Main]\r\nlog=" + Ansi(LogIn()) + "\r\n";
    WriteBytes(dir / L"Quillon_settings.ini", settings);
    HANDLE writer = CreateFileW((dir / L"Quillon_settings.ini").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    const std::wstring text = q.Balloon();
    EXPECT_NE(text.find(L"Quillon_settings.ini"), std::wstring::npos) << Ansi(text);
    // The window answers at every moment meanwhile, a click included: its
    // tries to read wait for nothing.
    SendMessageW(q.Item(IDC_CHECK1), BM_CLICK, 0, 0);
    PostMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    DWORD slowest = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 2500; Sleep(20)) {
        const DWORD asked = GetTickCount();
        SendMessageTimeoutW(q.Window(), WM_NULL, 0, 0, SMTO_NORMAL, 5000, nullptr);
        slowest = std::max(slowest, GetTickCount() - asked);
    }
    EXPECT_LT(slowest, 100u);
    EXPECT_EQ(q.Text(IDC_TEXT1), L"");
    EXPECT_FALSE(FileExists(LogIn()));
    CloseHandle(writer);
    Sleep(1500);  // read again within a second
    EXPECT_EQ(q.Check(IDC_CHECK1), BST_UNCHECKED);  // as the file says
    // Read once, the settings are not needed for a refresh: held again,
    // the next one fetches and logs as usual.
    writer = CreateFileW((dir / L"Quillon_settings.ini").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    EXPECT_EQ(q.Text(IDC_TEXT1), kLoopback);
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");
    CloseHandle(writer);
    EXPECT_EQ(Settings(), settings);
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
}

// What a user sees when the log fails: a balloon on the box concerned
// saying what and why, without a click, until the next success. (No
// address, as a user meets it: tests/release/user-test.sh.)
TEST_F(Quillon, AFailureIsShownOnItsBoxUntilTheNextSuccess) {
    const std::wstring missing = dir / L"no such folder\\IP_log.txt";
    WriteSettings("log=" + Ansi(missing) + "\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    const auto [tip, text] = Balloon(q);  // shown as the window is, or not at all
    ASSERT_NE(tip, nullptr) << "no balloon";
    EXPECT_EQ(q.Text(IDC_TEXT1), kLoopback);
    EXPECT_NE(text.find(missing), std::wstring::npos) << Ansi(text);
    EXPECT_TRUE(SaveWindowShot(q.Window(), "problem-log-not-written", tip));

    SendMessageW(q.Item(IDC_TEXT2), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(LogIn().c_str()));
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");
    EXPECT_EQ(Balloon(q, 500).first, nullptr) << "still shown after a success";
}

// A start with Windows begins minimised and logs its first refresh; a
// choice in the system menu is written at once and takes effect, "Show the
// log" says there is none yet, and the open menu is kept as a screenshot.
// Then tray=1, chosen: minimised, the window is hidden with its icon there,
// which Explorer's restart puts back; a second start brings the window back,
// a click on the icon too, taking the icon away. (The release's user test
// starts it with -min and tray=1, and exits from the icon.)
TEST_F(Quillon, AMinimisedStartAndTheSystemMenusOptions) {
    WriteSettings("log=" + Ansi(LogIn()) + "\r\nevery=7\r\n");
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start(L"-MIN"));
    ASSERT_TRUE(q.WaitForWindow());
    EXPECT_TRUE(IsIconic(q.Window()));
    EXPECT_EQ(ReadBytes(LogIn()), "127.0.0.1\r\n");
    ShowWindow(q.Window(), SW_RESTORE);
    SetForegroundWindow(q.Window());
    const auto choose = [&](UINT id) { SendMessageW(q.Window(), WM_SYSCOMMAND, id, 0); };
    choose(ui::kMenuIpv6);
    EXPECT_EQ(Settings(), "[Main]\r\nlog=" + Ansi(LogIn()) + "\r\nevery=7\r\nipv6=1\r\n");
    // IPv6 counts from the next refresh: the test server answers IPv4 alone.
    SendMessageW(q.Item(IDC_COMMAND1), BM_CLICK, 0, 0);
    EXPECT_NE(Balloon(q).second.find(L"IPv6"), std::wstring::npos);

    DeleteFileW(LogIn().c_str());
    choose(ui::kMenuShowLog);
    EXPECT_NE(Balloon(q).second.find(LogIn()), std::wstring::npos) << "no log yet";

    // Alt+Space opens the menu with the options below the system's, and a
    // letter chooses one.
    PostMessageW(q.Window(), WM_SYSCOMMAND, SC_KEYMENU, ' ');
    HWND menu = nullptr;
    for (DWORD start = GetTickCount(); !menu && GetTickCount() - start < 5000; Sleep(50))
        menu = FindProcessWindow(q.Pid(), L"#32768", true);
    ASSERT_NE(menu, nullptr) << "no system menu";
    Sleep(300);
    EXPECT_TRUE(SaveWindowShot(q.Window(), "system-menu", menu));
    PostMessageW(menu, WM_KEYDOWN, 'H', 0);
    const auto waitFor = [](auto done) {
        for (DWORD start = GetTickCount(); !done() && GetTickCount() - start < 5000;) Sleep(50);
        return done();
    };
    EXPECT_TRUE(waitFor([&] { return Settings().find("\r\nchanges=1\r\n") != std::string::npos; }))
        << "Log only c&hanges";

    choose(ui::kMenuTray);
    const auto iconThere = [&] { return NotifyIcon(NIM_MODIFY, q.Window(), ui::TrayIcon::kId); };
    EXPECT_FALSE(iconThere());
    SendMessageW(q.Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindowVisible(q.Window()); }));
    EXPECT_TRUE(iconThere());
    NotifyIcon(NIM_DELETE, q.Window(), ui::TrayIcon::kId);
    EXPECT_FALSE(iconThere());
    SendMessageW(q.Window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_TRUE(iconThere()) << "put back after Explorer's restart";
    EXPECT_FALSE(IsWindowVisible(q.Window()));

    QuillonProcess second(dir.path());
    ASSERT_TRUE(second.Start());
    EXPECT_EQ(second.WaitForExit(20000), 0);
    EXPECT_TRUE(waitFor([&] { return IsWindowVisible(q.Window()) && !IsIconic(q.Window()); })) << "brought back";
    SendMessageW(q.Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(waitFor([&] { return !IsWindowVisible(q.Window()); }));
    // The shell's messages in version 4's shape: the event and the id, and
    // the place. A click, or Enter on the icon, brings the window back.
    const auto shell = [&](UINT event, POINT at) {
        PostMessageW(q.Window(), ui::TrayIcon::kCallbackMessage, MAKEWPARAM(at.x, at.y),
                     MAKELPARAM(event, ui::TrayIcon::kId));
    };
    const POINT icon{600, 700};
    for (const UINT event : {static_cast<UINT>(WM_LBUTTONUP), static_cast<UINT>(NIN_KEYSELECT)}) {
        shell(event, icon);
        EXPECT_TRUE(waitFor([&] { return IsWindowVisible(q.Window()) && !iconThere(); })) << event;
        SendMessageW(q.Window(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(waitFor([&] { return !IsWindowVisible(q.Window()) && iconThere(); }));
    }
    // A right click, which Wine's explorer follows with WM_CONTEXTMENU,
    // opens one menu, at the icon, not at the mouse (as Shift+F10 does).
    SetCursorPos(40, 40);
    shell(WM_RBUTTONUP, icon);
    shell(WM_CONTEXTMENU, icon);
    HWND trayMenu = nullptr;
    waitFor([&] { return (trayMenu = FindProcessWindow(q.Pid(), L"#32768", true)) != nullptr; });
    ASSERT_NE(trayMenu, nullptr) << "no menu";
    RECT r{};
    GetWindowRect(trayMenu, &r);
    EXPECT_EQ(r.left, icon.x);
    EXPECT_EQ(r.bottom, icon.y);
    PostMessageW(trayMenu, WM_KEYDOWN, VK_ESCAPE, 0);
    Sleep(1000);
    EXPECT_EQ(FindProcessWindow(q.Pid(), L"#32768", true), nullptr) << "the menu opened twice";
    shell(WM_CONTEXTMENU, icon);
    waitFor([&] { return (trayMenu = FindProcessWindow(q.Pid(), L"#32768", true)) != nullptr; });
    PostMessageW(trayMenu, WM_KEYDOWN, 'X', 0);  // "E&xit"
    EXPECT_EQ(q.WaitForExit(10000), 0);
    EXPECT_FALSE(iconThere());
}

// One window per copy, kept by a mark that only normal starts make: two
// normal starts with tray=1 at once, while a silent run (its page answers
// after 2.5 s) is under way: exactly one window shows, the other start ends
// with 0, and the silent run logs unseen with 0.
TEST_F(Quillon, OfTwoStartsBesideASilentRunExactlyOneShowsItsWindow) {
    WriteSettings("log=" + Ansi(LogIn()) + "\r\ntray=1\r\nurl=http://127.0.0.1:" +
                  std::to_string(FixturePort("stall", "late.port")) + "/\r\n");
    QuillonProcess silent(dir.path()), a(dir.path()), b(dir.path());
    ASSERT_TRUE(silent.Start(L"-s"));
    for (DWORD start = GetTickCount(); !FindProcessWindow(silent.Pid(), L"FrmMain", false) && GetTickCount() - start < 20000;)
        Sleep(10);
    ASSERT_TRUE(a.Start() && b.Start());
    long code = -1;
    EXPECT_FALSE(silent.EverVisibleUntilExit(kBoundMs, code)) << "a silent run was shown";
    EXPECT_EQ(code, 0);
    long endA = -1, endB = -1;
    for (const DWORD start = GetTickCount(); endA == -1 && endB == -1 && GetTickCount() - start < 30000; Sleep(20)) {
        endA = a.WaitForExit(0);
        endB = b.WaitForExit(0);
    }
    ASSERT_NE(endA == -1, endB == -1) << "both ended, or neither";
    EXPECT_EQ(endA == -1 ? endB : endA, 0);
    QuillonProcess& kept = endA == -1 ? a : b;
    ASSERT_NE(kept.WaitForWindow(), nullptr);
    EXPECT_NE(ReadBytes(LogIn()).find("198.51.100.21\r\n"), std::string::npos);
    PostMessageW(kept.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(kept.WaitForExit(10000), 0);
}

// "Show the log", chosen by keyboard, hands a log named ip.cmd to the
// program for .txt files, with its path; the log is not run.
TEST_F(Quillon, ShowTheLogOpensItWithTheTextProgramAndNeverRunsIt) {
    const std::wstring log = dir / L"ip.cmd", opened = dir / L"opened.txt", ran = dir / L"ran.txt";
    WriteBytes(log, "echo ran>\"" + Ansi(ran) + "\"\r\n");
    WriteSettings("log=" + Ansi(log) + "\r\noverwrite=0\r\n");
    wchar_t saved[256] = L"";
    LONG savedSize = sizeof saved;
    const bool had = RegQueryValueW(HKEY_CLASSES_ROOT, L".txt", saved, &savedSize) == ERROR_SUCCESS;
    const std::wstring command = L"cmd.exe /c echo \"%1\">\"" + opened + L"\"";
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, L"QuillonE2EText", 0), ERROR_SUCCESS);
    // Its default verb, with no "open" command, as a packaged program has none.
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"QuillonE2EText\\shell", REG_SZ, L"view", 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"QuillonE2EText\\shell\\view\\command", REG_SZ, command.c_str(), 0),
              ERROR_SUCCESS);
    QuillonProcess q(dir.path());
    ASSERT_TRUE(q.Start());
    ASSERT_TRUE(q.WaitForWindow());
    SetForegroundWindow(q.Window());
    PostMessageW(q.Window(), WM_SYSCOMMAND, SC_KEYMENU, ' ');
    HWND menu = nullptr;
    for (DWORD start = GetTickCount(); !menu && GetTickCount() - start < 5000; Sleep(50))
        menu = FindProcessWindow(q.Pid(), L"#32768", true);
    if (menu) PostMessageW(menu, WM_KEYDOWN, 'L', 0);
    if (menu) WaitForLine(opened, 15000);
    Sleep(500);  // a log that was run would have written by now
    if (had) RegSetValueW(HKEY_CLASSES_ROOT, L".txt", REG_SZ, saved, 0);
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"QuillonE2EText");
    PostMessageW(q.Window(), WM_CLOSE, 0, 0);
    EXPECT_EQ(q.WaitForExit(10000), 0);
    ASSERT_NE(menu, nullptr) << "no system menu";
    EXPECT_NE(ReadBytes(opened).find(Ansi(log)), std::string::npos) << "the text program was not given the log";
    EXPECT_FALSE(FileExists(ran)) << "the log was run";
    EXPECT_EQ(ReadBytes(log), "echo ran>\"" + Ansi(ran) + "\"\r\n127.0.0.1\r\n");
}
