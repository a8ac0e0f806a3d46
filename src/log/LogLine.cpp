#include "log/LogLine.h"

namespace quillon::log {
namespace {

std::wstring FormatDate(const SYSTEMTIME& t) {
    wchar_t buf[128];
    const int n = GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buf, 128);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

std::wstring FormatTime(const SYSTEMTIME& t) {
    wchar_t buf[128];
    const int n = GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &t, nullptr, buf, 128);
    return n > 0 ? std::wstring(buf, static_cast<size_t>(n - 1)) : std::wstring();
}

}  // namespace

SYSTEMTIME LocalClock() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return t;
}

ClockFn& Clock() {
    static ClockFn clock = LocalClock;
    return clock;
}

std::wstring ComposeLogLine(const std::wstring& address, bool bWithDate, const SYSTEMTIME& now) {
    if (!bWithDate) return address;
    // Date and time come from one reading of the clock, so a line written
    // at midnight never pairs one day's date with the next day's time.
    return address + L" - " + FormatDate(now) + L" " + FormatTime(now);
}

}  // namespace quillon::log
