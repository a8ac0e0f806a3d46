#pragma once
#include <optional>
#include <string>

namespace quillon::log {

// Writes sMsg and CR LF to the log file sLog, appended or replacing the
// file. Failures are quiet; the result only says whether the line was
// written.
bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite);

// The address on the log's last line (the text before " - " where the line
// has a date and time), read from the end of the file only; nothing when
// the log is missing, empty or unreadable.
std::optional<std::wstring> LastLoggedAddress(const std::wstring& sLog);

// Whether address differs from the log's last one; a log without one
// counts as a change.
bool IsNewAddress(const std::wstring& sLog, const std::wstring& address);

}  // namespace quillon::log
