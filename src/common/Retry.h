#pragma once
// One way of waiting for a file that another program holds for a moment: a
// viewer that looks, a virus scanner, an editor saving. Try again for about
// a second, and only while the failure says the file is busy.
#include <windows.h>

namespace quillon {

// Busy: held for now by a program (a sharing or lock violation), or a lock
// whose wait ran out (ERROR_BUSY). What is busy may work a moment later.
inline bool IsBusy(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_BUSY;
}

// Calls attempt until it gives something true or fails for a reason other
// than busy (or busy as decided by the caller), for at most about a second.
// GetLastError() after a failure is the last attempt's.
template <class Attempt, class Busy>
auto RetryWhileBusy(Attempt attempt, Busy busy) {
    constexpr int kAttempts = 20;
    constexpr DWORD kStepMs = 50;
    for (int tried = 1;; ++tried) {
        auto result = attempt();
        if (result) return result;
        const DWORD error = GetLastError();
        if (tried == kAttempts || !busy(error)) {
            SetLastError(error);
            return result;
        }
        Sleep(kStepMs);
    }
}

template <class Attempt>
auto RetryWhileBusy(Attempt attempt) {
    return RetryWhileBusy(attempt, IsBusy);
}

}  // namespace quillon
