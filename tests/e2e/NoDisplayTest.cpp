// The real Quillon.exe in a Wine prefix whose desktop came up without a
// display driver, where no window can be made: on Windows, an exhausted
// desktop heap in a non-interactive session fails the same way.
#include <gtest/gtest.h>

#include "e2e/QuillonProcess.h"
#include "support/TestSupport.h"

using namespace quillon;
using namespace quillon::test;

TEST(NoWindow, ASilentRunStillLogsAndANormalStartEndsAtOnce) {
    ASSERT_NE(FixturePort("nginx", "port"), 0) << "the nginx fixture is not running";
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    if (probe) DestroyWindow(probe);
    ASSERT_EQ(probe, nullptr) << "windows can be made in this prefix";

    TempDir dir;
    const std::wstring settings = dir / L"Quillon_settings.ini";
    const auto silentRun = [&] {
        QuillonProcess q(dir.path());
        const DWORD start = GetTickCount();
        EXPECT_TRUE(q.Start(L"-s"));
        EXPECT_EQ(q.WaitForExit(60000), 0);
        EXPECT_LT(GetTickCount() - start, 30000u);
    };

    // A first start: the default path comes in and is saved, as with a window.
    const std::wstring log = dir / L"IP_log.txt";
    silentRun();
    EXPECT_EQ(ReadBytes(log), "127.0.0.1\r\n");
    EXPECT_EQ(ReadBytes(settings), "[Main]\r\nlog=" + std::string(log.begin(), log.end()) + "\r\n");

    // The saved options are read and obeyed, and the file stays as it was.
    const std::string saved = "[Main]\r\nlog=" + std::string(log.begin(), log.end()) + "\r\noverwrite=1\r\ndate=2\r\n";
    WriteBytes(settings, saved);
    WriteBytes(log, "old line\r\n");
    silentRun();
    const std::string line = ReadBytes(log);
    EXPECT_EQ(line.rfind("127.0.0.1 - ", 0), 0u) << line;
    EXPECT_EQ(line.find("\r\n"), line.size() - 2) << line;
    EXPECT_EQ(ReadBytes(settings), saved);

    // A normal start has nothing to show: it ends at once, with 1.
    QuillonProcess q(dir.path());
    const DWORD start = GetTickCount();
    ASSERT_TRUE(q.Start());
    EXPECT_EQ(q.WaitForExit(10000), 1);
    EXPECT_LT(GetTickCount() - start, 10000u);
}
