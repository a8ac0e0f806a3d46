#include "log/LogWriter.h"

#include <windows.h>

#include <algorithm>

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

// The write itself, under the lock the caller holds: the lines and their
// ends together. A silent run's time limit waits for it, and for done.
bool WriteLines(const std::wstring& path, const std::wstring& lines, bool overwrite, DWORD& error,
                const std::function<void()>& done) {
    const std::string line = ToAnsi(lines);
    const runlimit::Writing writing;
    const bool written = overwrite ? WriteWholeFile(path, line, {.waitForHolder = true, .inPlace = true})
                                   : Append(path, line);
    error = written ? ERROR_SUCCESS : GetLastError();
    if (written) done();
    return written;
}

}  // namespace

bool LogAddresses(const std::wstring& sLog, std::vector<LogEntry>& entries, bool bOverWrite, SameFn same,
                  DWORD& error, const std::function<void()>& done) {
    error = ERROR_SUCCESS;
    for (LogEntry& e : entries) e.logged = Logged::Failed;
    if (sLog.empty()) {
        error = ERROR_PATH_NOT_FOUND;
        return false;
    }
    // One writer of the log at a time, whichever run of the program it is
    // (Wine's append is not atomic between processes, and an overwrite's
    // rename is not either between writers); from the look at the last
    // lines to the end of the write.
    const NamedLock lock(kLogLock, sLog, kLogLockWaitMs);
    if (!lock) {
        error = lock.Error();
        return false;
    }
    std::wstring text;
    bool anyNew = false;
    for (LogEntry& e : entries) {
        e.before = (e.ofFamily ? LastLogLine(sLog, e.ofFamily) : LastLogLine(sLog)).value_or(L"");
        if (e.found && same && same(AddressOfLine(e.before), e.address)) e.logged = Logged::Unchanged;
        const bool now = e.found && e.logged != Logged::Unchanged;
        anyNew = anyNew || now;
        // An overwrite keeps the line of a family that has no new one.
        if (now || (bOverWrite && !e.before.empty())) text += (now ? e.line : e.before) + L"\r\n";
    }
    const auto settle = [&] {
        for (LogEntry& e : entries)
            if (e.found && e.logged != Logged::Unchanged) e.logged = Logged::Written;
        if (done) done();
    };
    if (!anyNew) {
        // Nothing to write: the log already says it.
        const runlimit::Writing deciding;
        settle();
        return true;
    }
    return WriteLines(sLog, text, bOverWrite, error, settle);
}

Logged LogAddress(const std::wstring& sLog, const std::wstring& line, const std::wstring& address, bool bOverWrite,
                  SameFn same, DWORD& error, std::wstring* lastLine) {
    LogEntry entry;
    entry.address = address;
    entry.line = line;
    std::vector<LogEntry> entries{entry};
    LogAddresses(sLog, entries, bOverWrite, same, error);
    if (lastLine) *lastLine = entries[0].before;
    return entries[0].logged;
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

namespace {

// The last line that pick takes, among the file's last tailBytes; a line
// cut off by the start of that tail is none.
std::optional<std::wstring> LastLineOf(const std::wstring& sLog, LONGLONG tailBytes,
                                       bool (*pick)(std::wstring_view)) {
    if (sLog.empty()) return std::nullopt;
    FileHandle file(CreateFileW(sLog.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return std::nullopt;
    LARGE_INTEGER from{};
    from.QuadPart = size.QuadPart > tailBytes ? size.QuadPart - tailBytes : 0;
    std::string tail(static_cast<size_t>(size.QuadPart - from.QuadPart), '\0');
    DWORD n = 0;
    if (!SetFilePointerEx(file.get(), from, nullptr, FILE_BEGIN) ||
        !ReadFile(file.get(), tail.data(), static_cast<DWORD>(tail.size()), &n, nullptr))
        return std::nullopt;
    tail.resize(n);
    for (size_t end = tail.find_last_not_of("\r\n"); end != std::string::npos;) {
        const size_t lineEnd = tail.find_last_of("\r\n", end);
        if (lineEnd == std::string::npos && from.QuadPart > 0) return std::nullopt;
        const size_t first = lineEnd == std::string::npos ? 0 : lineEnd + 1;
        std::wstring line = FromAnsi(tail.substr(first, end + 1 - first));
        if (!pick || pick(AddressOfLine(line))) return line;
        if (lineEnd == std::string::npos) break;
        end = tail.find_last_not_of("\r\n", lineEnd);
    }
    return std::nullopt;
}

}  // namespace

// A log line is short: the last few kilobytes hold it, however long the
// log; a last line that does not fit is no address.
std::optional<std::wstring> LastLogLine(const std::wstring& sLog) { return LastLineOf(sLog, 4096, nullptr); }

// A family's last line may lie some lines back, behind the other's.
std::optional<std::wstring> LastLogLine(const std::wstring& sLog, bool (*ofFamily)(std::wstring_view)) {
    return LastLineOf(sLog, 64 * 1024, ofFamily);
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
