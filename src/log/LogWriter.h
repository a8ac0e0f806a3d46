#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace quillon::log {

// Writes sMsg and CR LF to the log file sLog, appended or replacing the
// file. The result says whether the line was written; where it was not,
// error (when given) says why, as a Windows error code.
bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite, DWORD* error = nullptr);

// The address on the log's last line (the text before " - " where the line
// has a date and time), read from the end of the file only; nothing when
// the log is missing, empty or unreadable.
std::optional<std::wstring> LastLoggedAddress(const std::wstring& sLog);

// The lock every writer of a log holds (common/NamedLock), and how long a
// run waits for another that is writing the same log. A caller that looks
// at the log before it writes holds it across both.
constexpr wchar_t kLogLock[] = L"log";
constexpr DWORD kLogLockWaitMs = 5000;

}  // namespace quillon::log
