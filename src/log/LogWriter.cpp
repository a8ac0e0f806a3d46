#include "log/LogWriter.h"

#include <windows.h>

#include "common/DoEvents.h"
#include "common/Handle.h"
#include "common/NamedLock.h"
#include "common/Retry.h"
#include "common/RunLimit.h"
#include "common/Text.h"
#include "common/WholeFile.h"

namespace quillon::log {
namespace {

bool Append(const std::wstring& path, const std::string& line) {
    // Append access makes each write land at the end of the file.
    FileHandle file = RetryWhileBusy([&] {
        return FileHandle(CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    });
    if (!file) return false;
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    return WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, &atEnd) &&
           written == line.size();
}

bool WriteLine(const std::wstring& path, const std::wstring& msg, bool overwrite, DWORD* error) {
    if (path.empty()) {
        if (error) *error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    const std::string line = ToAnsi(msg) + "\r\n";  // one write: line and its end together
    // One writer of the log at a time, whichever run of the program it is
    // (Wine's append is not atomic between processes, and an overwrite's
    // rename is not either between writers).
    const NamedLock lock(kLogLock, path, kLogLockWaitMs);
    if (!lock && lock.Error() == ERROR_BUSY) {
        if (error) *error = ERROR_BUSY;
        return false;
    }
    // The silent run's time limit waits for this write, and a run whose
    // line is in the log counts as done from the same moment.
    const runlimit::Writing writing;
    const bool written = overwrite ? WriteWholeFile(path, line) : Append(path, line);
    if (written) runlimit::Succeeded();
    if (error) *error = written ? ERROR_SUCCESS : GetLastError();
    return written;
}

}  // namespace

bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite, DWORD* error) {
    const std::wstring msg = sMsg;
    // A yield before the write and one after: one between would follow
    // or precede another with nothing done in between.
    DoEvents();
    const bool written = WriteLine(sLog, msg, bOverWrite, error);
    DoEvents();
    return written;
}

std::optional<std::wstring> LastLoggedAddress(const std::wstring& sLog) {
    if (sLog.empty()) return std::nullopt;
    FileHandle file(CreateFileW(sLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    // A log line is short: the last few kilobytes hold it, however long the log.
    constexpr LONGLONG kTail = 4096;
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > kTail ? size.QuadPart - kTail : 0;
    std::string tail(static_cast<size_t>(size.QuadPart - from.QuadPart), '\0');
    DWORD n = 0;
    if (!SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &n, nullptr))
        return std::nullopt;
    tail.resize(n);
    const size_t end = tail.find_last_not_of("\r\n");
    if (end == std::string::npos) return std::nullopt;
    const size_t lineEnd = tail.find_last_of("\r\n", end);
    const size_t first = lineEnd == std::string::npos ? 0 : lineEnd + 1;
    std::string line = tail.substr(first, end + 1 - first);
    const size_t stamp = line.find(" - ");
    if (stamp != std::string::npos) line.erase(stamp);
    return FromAnsi(line);
}

}  // namespace quillon::log
