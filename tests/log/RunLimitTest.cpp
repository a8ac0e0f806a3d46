// The silent run's time limit against a write of the log at the same
// moment: the limit is made to come at once, and the process end recorded.
#include <gtest/gtest.h>

#include "common/RunLimit.h"
#include "log/LogWriter.h"
#include "support/TestSupport.h"

using namespace quillon;

namespace {

HANDLE ended = CreateEventW(nullptr, FALSE, FALSE, nullptr);
volatile LONG endCode = -1;

void RecordEnd(UINT code) {
    endCode = static_cast<LONG>(code);
    SetEvent(ended);
}

}  // namespace

TEST(RunLimit, WaitsForTheWriteUnderWayAndEndsWithZeroOnceTheLineIsIn) {
    test::TempDir dir;
    const std::wstring log = dir / L"IP_log.txt";
    for (const bool lineIn : {true, false}) {
        endCode = -1;
        {
            // The limit comes while a write is under way.
            const runlimit::Writing writing;
            runlimit::Start(0, 60000, RecordEnd);
            EXPECT_EQ(WaitForSingleObject(ended, 300), static_cast<DWORD>(WAIT_TIMEOUT)) << "ended mid-write";
            // The run decides its code inside the write, as a refresh does.
            std::vector<log::LogEntry> entries(1);
            entries[0].address = entries[0].line = L"203.0.113.7";
            DWORD error = 0;
            EXPECT_EQ(log::LogAddresses(lineIn ? log : dir / L"no such folder\\IP_log.txt", entries, true, nullptr,
                                        error, [] { runlimit::Decide(0); }),
                      lineIn);
        }
        EXPECT_EQ(WaitForSingleObject(ended, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(endCode, lineIn ? 0 : 1);
    }
    EXPECT_EQ(test::ReadBytes(log), "203.0.113.7\r\n");

    // The code decided at the end is the one, whatever the log said before
    // (a line in, and the settings not saved).
    {
        const runlimit::Writing ending;
        runlimit::Start(0, 60000, RecordEnd);
        runlimit::Decide(0);
        runlimit::Decide(1);
    }
    EXPECT_EQ(WaitForSingleObject(ended, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(endCode, 1);

    // A write that never ends (a share that hangs) holds the end back only
    // for the grace time.
    endCode = -1;
    const runlimit::Writing hung;
    const DWORD start = GetTickCount();
    runlimit::Start(0, 500, RecordEnd);
    EXPECT_EQ(WaitForSingleObject(ended, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_GE(GetTickCount() - start, 450u);
    EXPECT_EQ(endCode, 1);
}
