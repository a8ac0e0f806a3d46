#pragma once
// A lock that every Quillon process of one user takes for the same file: a
// mutex named after the file's full path, so that two runs at once (a
// scheduled one and the window, say) take turns at writing it. It is held
// by a thread and may be taken again by the thread that holds it. Its name
// holds the user's SID and only that user may open it, so another user can
// neither open it nor, unnoticed, hold it in the user's place.
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
    // Why it is not held: ERROR_BUSY when another holder kept it past the
    // wait; ERROR_INVALID_OWNER when the name belongs to another user;
    // else why the system could not make it.
    DWORD Error() const { return error_; }

    // The mutex's name for a path: the same for every spelling of the path
    // that leads to the same full name, whatever its case.
    static std::wstring NameFor(const wchar_t* kind, const std::wstring& path);

private:
    HANDLE mutex_;  // kept open by the process
    bool held_ = false;
    DWORD error_ = ERROR_SUCCESS;
};

// A mutex that only this user may open, named prefix + name (prefix a
// namespace, "Global\\" or "Local\\"; name as NamedLock::NameFor makes
// it), with the user as its owner. The caller closes it. existed: it was
// made before, by this user. Null where it could not be made, or where the
// name is another user's (GetLastError() is then ERROR_INVALID_OWNER).
HANDLE OwnerOnlyMutex(const wchar_t* prefix, const std::wstring& name, bool* existed);

}  // namespace quillon
