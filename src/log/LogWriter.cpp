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

constexpr wchar_t kLogLock[] = L"log";

// At the end, and all or nothing: a write that fails part-way (a full disk)
// is cut back, so the log is left byte for byte as it was.
bool Append(const std::wstring& path, const std::string& line) {
    FileHandle file = RetryWhileBusy([&] {
        return FileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    });
    if (!file) return false;
    const bool made = GetLastError() != ERROR_ALREADY_EXISTS;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return false;
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const bool wrote = WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, &atEnd);
    DWORD error = wrote ? ERROR_DISK_FULL : GetLastError();  // a short write: no room for the rest
    if (wrote && written == line.size()) {
        if (FlushFileBuffers(file.get())) return true;
        error = GetLastError();
    }
    SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
    file.reset();
    if (made) DeleteFileW(path.c_str());  // a log that was not there is not left empty
    SetLastError(error);
    return false;
}

// The write itself, under the lock the caller holds.
bool WriteLine(const std::wstring& path, const std::wstring& msg, bool overwrite, DWORD& error) {
    const std::string line = ToAnsi(msg) + "\r\n";  // one write: line and its end together
    // The silent run's time limit waits for this write, and a run whose
    // line is in the log counts as done from the same moment.
    const runlimit::Writing writing;
    const bool written = overwrite ? WriteWholeFile(path, line, {.waitForHolder = true, .inPlace = true})
                                   : Append(path, line);
    if (written) runlimit::Succeeded();
    error = written ? ERROR_SUCCESS : GetLastError();
    return written;
}

}  // namespace

Logged LogAddress(const std::wstring& sLog, const std::wstring& line, const std::wstring& address, bool bOverWrite,
                  SameFn same, DWORD& error, std::wstring* lastLine) {
    error = ERROR_SUCCESS;
    if (sLog.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return Logged::Failed;
    }
    // One writer of the log at a time, whichever run of the program it is
    // (Wine's append is not atomic between processes, and an overwrite's
    // rename is not either between writers); with only changes logged,
    // from the look at the last line to the end of the write.
    const NamedLock lock(kLogLock, sLog, kLogLockWaitMs);
    if (!lock) {
        error = lock.Error();
        return Logged::Failed;
    }
    const std::wstring last = same || lastLine ? LastLogLine(sLog).value_or(L"") : L"";
    if (lastLine) *lastLine = last;
    if (same && same(AddressOfLine(last), address)) {
        runlimit::Succeeded();  // nothing to write: the log already says it
        return Logged::Unchanged;
    }
    return WriteLine(sLog, line, bOverWrite, error) ? Logged::Written : Logged::Failed;
}

bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite, DWORD* error) {
    const std::wstring msg = sMsg;
    DWORD why = ERROR_SUCCESS;
    DoEvents();
    const bool written = LogAddress(sLog, msg, msg, bOverWrite, nullptr, why) == Logged::Written;
    DoEvents();
    if (error) *error = why;
    return written;
}

std::wstring DescribeLogError(DWORD error) {
    switch (error) {
        case ERROR_BUSY:
            return L"Another process held the log's lock for more than " + std::to_wstring(kLogLockWaitMs / 1000) +
                   L" seconds.";
        case ERROR_INVALID_OWNER:
            return L"The name of the log's lock is held by another user.";
        default:
            return SystemMessage(error);
    }
}

std::optional<std::wstring> LastLogLine(const std::wstring& sLog) {
    if (sLog.empty()) return std::nullopt;
    FileHandle file(CreateFileW(sLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    // A log line is short: the last few kilobytes hold it, however long the
    // log; a last line that does not fit is no address.
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
    if (lineEnd == std::string::npos && from.QuadPart > 0) return std::nullopt;
    const size_t first = lineEnd == std::string::npos ? 0 : lineEnd + 1;
    return FromAnsi(tail.substr(first, end + 1 - first));
}

std::wstring AddressOfLine(const std::wstring& line) {
    const size_t stamp = line.find(L" - ");
    return stamp == std::wstring::npos ? line : line.substr(0, stamp);
}

std::optional<std::wstring> LastLoggedAddress(const std::wstring& sLog) {
    const std::optional<std::wstring> line = LastLogLine(sLog);
    if (!line) return std::nullopt;
    return AddressOfLine(*line);
}

}  // namespace quillon::log
