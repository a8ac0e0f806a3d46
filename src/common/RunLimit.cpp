#include "common/RunLimit.h"

#include <initializer_list>

namespace quillon::runlimit {
namespace {

struct State {
    State() { InitializeCriticalSection(&writing); }
    CRITICAL_SECTION writing;
    volatile LONG decided = -1;  // the exit code, once it is known
    SRWLOCK whyLock = SRWLOCK_INIT;
    std::wstring why;
    DWORD limitMs = 0, graceMs = 0;
    DWORD startedAt = 0;
    bool running = false;
    EndFn end = EndProcess;
    HANDLE stop = nullptr, thread = nullptr;  // the last Start's
};

State& Shared() {
    static State state;
    return state;
}

DWORD WINAPI EndWhenOverdue(void* stop) {
    State& s = Shared();
    if (WaitForSingleObject(stop, s.limitMs) == WAIT_OBJECT_0) return 0;
    // A write under way finishes first; holding the lock from then on, no
    // other write begins.
    const DWORD start = GetTickCount();
    bool held = false;
    while (!(held = TryEnterCriticalSection(&s.writing) != FALSE) && GetTickCount() - start < s.graceMs) Sleep(10);
    const LONG decided = InterlockedCompareExchange(&s.decided, 0, 0);
    s.end(decided >= 0 ? static_cast<UINT>(decided) : 1);
    if (held) LeaveCriticalSection(&s.writing);  // only where the end returned (tests)
    return 0;
}

}  // namespace

void EndProcess(UINT exitCode) { TerminateProcess(GetCurrentProcess(), exitCode); }

void Start(DWORD limitMs, DWORD graceMs, EndFn end) {
    State& s = Shared();
    s.decided = -1;
    AcquireSRWLockExclusive(&s.whyLock);
    s.why.clear();
    ReleaseSRWLockExclusive(&s.whyLock);
    s.limitMs = limitMs;
    s.graceMs = graceMs;
    s.startedAt = GetTickCount();
    s.end = end;
    for (HANDLE h : {s.stop, s.thread})
        if (h) CloseHandle(h);
    s.stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.thread = s.stop ? CreateThread(nullptr, 0, EndWhenOverdue, s.stop, 0, nullptr) : nullptr;
    s.running = s.thread != nullptr;
}

bool EndsAt(DWORD& tick) {
    const State& s = Shared();
    tick = s.startedAt + s.limitMs;
    return s.running;
}

void Stop() {
    State& s = Shared();
    if (!s.thread) return;
    s.running = false;
    SetEvent(s.stop);
    WaitForSingleObject(s.thread, 1000);
}

Writing::Writing() { EnterCriticalSection(&Shared().writing); }
Writing::~Writing() { LeaveCriticalSection(&Shared().writing); }

void Decide(UINT exitCode, const std::wstring& why) {
    State& s = Shared();
    AcquireSRWLockExclusive(&s.whyLock);
    s.why = why;
    ReleaseSRWLockExclusive(&s.whyLock);
    InterlockedExchange(&s.decided, static_cast<LONG>(exitCode));
}

std::wstring DecidedWhy() {
    State& s = Shared();
    AcquireSRWLockShared(&s.whyLock);
    std::wstring why = s.why;
    ReleaseSRWLockShared(&s.whyLock);
    return why;
}

}  // namespace quillon::runlimit
