#pragma once
#include <windows.h>

#include <string>

namespace quillon::log {

// The clock that stamps log lines; tests may replace it.
using ClockFn = SYSTEMTIME (*)();
SYSTEMTIME LocalClock();
ClockFn& Clock();

// The address alone, or the address, " - ", the short date and the long
// time under the user's regional settings.
std::wstring ComposeLogLine(const std::wstring& address, bool bWithDate, const SYSTEMTIME& now);

}  // namespace quillon::log
