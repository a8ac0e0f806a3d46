#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::log {

// Writes sMsg and CR LF to the log file sLog, appended or replacing the
// file, yielding to the window before and after. The result says whether
// the line was written; where it was not, error (when given) says why, as
// a Windows error code.
bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite, DWORD* error = nullptr);

// What became of an address given to the log.
enum class Logged { Written, Unchanged, Failed };

// Two addresses that are the same, however written.
using SameFn = bool (*)(std::wstring_view, std::wstring_view);

// One address family's part of a write of the log.
struct LogEntry {
    bool found = true;     // false where this family gave no address this time
    std::wstring address;
    std::wstring line;     // the address, with the date and time or not
    // Which log lines are this family's; null: every line.
    bool (*ofFamily)(std::wstring_view) = nullptr;
    // What the write found and did: the family's last line before it, ""
    // where there was none, and what became of this address.
    std::wstring before;
    Logged logged = Logged::Failed;
};

// Writes the entries' lines to the log in one write, in their order, one
// writer at a time whichever run of the program it is. Where same is given
// (only changes are logged), an address the family's last line holds is
// not written again. An overwrite keeps one line of each entry: its new
// one, or its last one where it has no new one. False, error set, where
// the write failed; true where it was written or nothing needed writing.
// done, where given, runs once the entries say what became of them, inside
// the section that a silent run's time limit waits for, so that the run's
// result is known from the moment its line is in.
bool LogAddresses(const std::wstring& sLog, std::vector<LogEntry>& entries, bool bOverWrite, SameFn same,
                  DWORD& error, const std::function<void()>& done = nullptr);

// Writes line (the address, with the date and time or not) to the log, one
// writer at a time whichever run of the program it is. Where same is given
// (only changes are logged), nothing is written when the log's last line
// holds the same address; the look and the write are one step under the
// log's lock. Never yields to the window while it holds the lock. error
// says why where it failed; lastLine (when given) gets the log's last line
// as it was before, "" where there was none.
Logged LogAddress(const std::wstring& sLog, const std::wstring& line, const std::wstring& address, bool bOverWrite,
                  SameFn same, DWORD& error, std::wstring* lastLine = nullptr);

// The address of a log line: the text before " - " where the line has a
// date and time.
std::wstring AddressOfLine(const std::wstring& line);

// Why a write of the log failed, in a sentence for the user.
std::wstring DescribeLogError(DWORD error);

// The log's last line, read from the end of the file only; nothing when
// the log is missing, empty or unreadable, or its last line is too long to
// be a log line.
std::optional<std::wstring> LastLogLine(const std::wstring& sLog);
// The last line whose address is of the family (all lines: null), among
// the log's last 64 KiB.
std::optional<std::wstring> LastLogLine(const std::wstring& sLog, bool (*ofFamily)(std::wstring_view));
// The address on that line.
std::optional<std::wstring> LastLoggedAddress(const std::wstring& sLog);

// How long a run waits for another that is writing the same log.
constexpr DWORD kLogLockWaitMs = 5000;

}  // namespace quillon::log
