// One window per copy: a normal start with tray=1 that finds another
// normal start of the same copy brings that one's window back and ends; a
// silent run is neither found nor ever shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "e2e/QuillonProcess.h"
#include "support/TestSupport.h"

using namespace quillon::test;

namespace {

constexpr DWORD kBoundMs = 45000;

class SingleWindow : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(FixturePort("nginx", "port"), 0) << "the nginx fixture is not running"; }
    std::wstring Log() const { return dir / L"IP_log.txt"; }
    std::string Ansi(const std::wstring& w) const { return std::string(w.begin(), w.end()); }
    void WriteSettings(const std::string& body) { WriteBytes(dir / L"Quillon_settings.ini", "[Main]\r\n" + body); }

    TempDir dir;
};

// The process's main window, shown or not; null once it has ended.
HWND MainWindow(const QuillonProcess& q, DWORD waitMs) {
    HWND found = nullptr;
    for (const DWORD start = GetTickCount(); !found && GetTickCount() - start < waitMs; Sleep(10))
        found = FindProcessWindow(q.Pid(), L"FrmMain", false);
    return found;
}

}  // namespace

// The silent run's page answers after 2.5 s, so it is still under way when
// the normal start looks for a running copy.
TEST_F(SingleWindow, ANormalStartDuringASilentRunShowsItsOwnWindow) {
    WriteSettings("log=" + Ansi(Log()) + "\r\ntray=1\r\nurl=http://127.0.0.1:" +
                  std::to_string(FixturePort("stall", "late.port")) + "/\r\n");
    QuillonProcess silent(dir.path());
    ASSERT_TRUE(silent.Start(L"-s"));
    ASSERT_NE(MainWindow(silent, 20000), nullptr) << "the silent run has its hidden window";
    QuillonProcess normal(dir.path());
    ASSERT_TRUE(normal.Start());
    long code = -1;
    EXPECT_FALSE(silent.EverVisibleUntilExit(kBoundMs, code)) << "a silent run was shown";
    EXPECT_EQ(code, 0);
    ASSERT_NE(normal.WaitForWindow(), nullptr) << "the normal start ended or showed nothing";
    EXPECT_EQ(normal.WaitForExit(0), -1);
    EXPECT_EQ(ReadBytes(Log()), "198.51.100.21\r\n198.51.100.21\r\n");
}

// Started together, each may find the other's window before either is
// shown: the mutex lets exactly one go on. A few rounds, as a race shows
// itself now and then.
TEST_F(SingleWindow, OfTwoStartsAtOnceExactlyOneShowsItsWindow) {
    WriteSettings("log=" + Ansi(Log()) + "\r\ntray=1\r\n");
    for (int round = 0; round < 4; ++round) {
        auto a = std::make_unique<QuillonProcess>(dir.path());
        auto b = std::make_unique<QuillonProcess>(dir.path());
        ASSERT_TRUE(a->Start() && b->Start());
        bool seenA = false, seenB = false;
        long endA = -1, endB = -1;
        for (const DWORD start = GetTickCount(); endA == -1 && endB == -1 && GetTickCount() - start < 30000;
             Sleep(5)) {
            seenA = seenA || a->HasVisibleWindow();
            seenB = seenB || b->HasVisibleWindow();
            endA = a->WaitForExit(0);
            endB = b->WaitForExit(0);
        }
        ASSERT_TRUE(endA == -1 || endB == -1) << "both ended, round " << round;
        ASSERT_FALSE(endA == -1 && endB == -1) << "neither ended, round " << round;
        QuillonProcess& ended = endA != -1 ? *a : *b;
        QuillonProcess& kept = endA != -1 ? *b : *a;
        EXPECT_EQ(ended.WaitForExit(0), 0) << round;
        EXPECT_FALSE(endA != -1 ? seenA : seenB) << "the start that ended was shown, round " << round;
        HWND window = kept.WaitForWindow();
        ASSERT_NE(window, nullptr) << round;
        Sleep(300);
        EXPECT_EQ(kept.WaitForExit(0), -1) << round;
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(kept.WaitForExit(10000), 0) << round;
    }
}
