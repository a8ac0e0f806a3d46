#include "log/LogWriter.h"

#include <windows.h>

#include "common/DoEvents.h"
#include "common/Handle.h"
#include "common/Text.h"

namespace quillon::log {
namespace {

using FileHandle = UniqueAny<HANDLE, &CloseHandle, -1>;  // empty: INVALID_HANDLE_VALUE

// Another program may hold the file for a moment; wait up to about 1 s.
FileHandle OpenLog(const std::wstring& path, DWORD access, DWORD disposition) {
    for (int attempt = 0;; ++attempt) {
        FileHandle file(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file || GetLastError() != ERROR_SHARING_VIOLATION || attempt == 20) return file;
        Sleep(50);
    }
}

// Held while a line is appended, by every writer of this program. The byte
// lies far past any real log data, so the lock hinders no reader.
class AppendLock {
public:
    explicit AppendLock(HANDLE file) : file_(file) {
        at_.OffsetHigh = 0x7FFFFFF0;
        locked_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at_) != FALSE;
    }
    ~AppendLock() {
        if (locked_) UnlockFileEx(file_, 0, 1, 0, &at_);
    }
    AppendLock(const AppendLock&) = delete;
    AppendLock& operator=(const AppendLock&) = delete;

private:
    HANDLE file_;
    OVERLAPPED at_{};
    bool locked_ = false;
};

bool WriteAll(HANDLE file, const std::string& bytes, OVERLAPPED* at) {
    DWORD written = 0;
    return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, at) &&
           written == bytes.size();
}

bool WriteLine(const std::wstring& path, const std::wstring& msg, bool overwrite) {
    if (path.empty()) return false;
    const std::string line = ToAnsi(msg) + "\r\n";  // one write: line and its end together
    if (overwrite) {
        FileHandle file = OpenLog(path, GENERIC_WRITE, CREATE_ALWAYS);
        return file && WriteAll(file.get(), line, nullptr);
    }
    // Append access makes each write land at the end of the file; the lock
    // keeps two writers at once from interleaving their lines (Wine's append
    // is not atomic between processes).
    FileHandle file = OpenLog(path, GENERIC_READ | FILE_APPEND_DATA, OPEN_ALWAYS);
    if (!file) return false;
    AppendLock lock(file.get());
    OVERLAPPED atEnd{};
    atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFF;
    return WriteAll(file.get(), line, &atEnd);
}

}  // namespace

bool AddToLogs(const std::wstring& sLog, const std::wstring& sMsg, bool bOverWrite) {
    const std::wstring msg = sMsg;
    bool written = false;
    DoEvents();
    if (!bOverWrite) written = WriteLine(sLog, msg, false);
    DoEvents();
    if (bOverWrite) written = WriteLine(sLog, msg, true);
    DoEvents();
    return written;
}

}  // namespace quillon::log
