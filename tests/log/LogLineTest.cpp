#include <gtest/gtest.h>

#include "log/LogLine.h"

using quillon::log::ComposeLogLine;

namespace {
const SYSTEMTIME kMorning{2026, 12, 0, 6, 7, 43, 26, 0};
const SYSTEMTIME kEvening{2026, 1, 0, 31, 23, 5, 9, 0};
}  // namespace

TEST(LogLine, WithoutDateItIsTheAddressAlone) {
    EXPECT_EQ(ComposeLogLine(L"203.0.113.7", false, kMorning), L"203.0.113.7");
    EXPECT_EQ(ComposeLogLine(L"", false, kMorning), L"");
}

// The test prefix runs under US English regional settings.
TEST(LogLine, WithDateItAddsShortDateAndLongTime) {
    EXPECT_EQ(ComposeLogLine(L"203.0.113.7", true, kMorning), L"203.0.113.7 - 12/6/2026 7:43:26 AM");
    EXPECT_EQ(ComposeLogLine(L"2001:db8::7", true, kEvening), L"2001:db8::7 - 1/31/2026 11:05:09 PM");
}
