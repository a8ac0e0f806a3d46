#pragma once
// A lock that every Quillon process takes for the same file: a mutex named
// after the file's full path, so that two runs at once (a scheduled one and
// the window, say) never write the file at the same time. It is held by a
// thread and may be taken again by the thread that holds it.
#include <windows.h>

#include <string>


namespace quillon {

class NamedLock {
public:
    // kind keeps the locks of different files apart ("log", "settings").
    // Waits up to waitMs for another holder to let go.
    NamedLock(const wchar_t* kind, const std::wstring& path, DWORD waitMs);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

    explicit operator bool() const { return held_; }
    // Why it is not held: ERROR_BUSY when another holder kept it.
    DWORD Error() const { return error_; }

    // The mutex's name for a path: the same for every spelling of the path
    // that leads to the same full name, whatever its case.
    static std::wstring NameFor(const wchar_t* kind, const std::wstring& path);

private:
    HANDLE mutex_;  // kept open by the process
    bool held_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace quillon
