#pragma once
#include <string>

namespace quillon::log {

// Writes sMsg and CR LF to the log file sLog, appended or replacing the
// file. Failures are quiet; the result only says whether the line was
// written.
bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite);

}  // namespace quillon::log
