#pragma once
// A silent run has a time limit: a scheduled task that never ends keeps the
// next one from starting. The limit never cuts a write of a file the user
// relies on (the log, the settings), and never fails a run that has done
// its work.
#include <windows.h>

#include <string>

namespace quillon::runlimit {

// What ends the process when the limit comes; tests put a recorder here.
using EndFn = void (*)(UINT exitCode);
void EndProcess(UINT exitCode);

// Starts a thread that watches the time. After limitMs it waits for a
// write under way (up to graceMs, for a write that hangs on a dead share),
// then ends the process with the code last decided, or 1 where none was.
void Start(DWORD limitMs, DWORD graceMs = 15000, EndFn end = EndProcess);

// When the limit comes, as a GetTickCount value; false where none is set.
bool EndsAt(DWORD& tick);

// Ends the watching thread, for a run about to end by itself, and waits up
// to a second for it to be gone.
void Stop();

// Held while a file the user relies on is written.
class Writing {
public:
    Writing();
    ~Writing();
    Writing(const Writing&) = delete;
    Writing& operator=(const Writing&) = delete;
};

// The code the run ends with if the limit comes now, and why in words:
// decided by the run where its result was written, and again as it ends.
// Call it inside the Writing that wrote the result, so that no moment lies
// between the write and the decision.
void Decide(UINT exitCode, const std::wstring& why = L"");
// What the last Decide said; "" where nothing was decided.
std::wstring DecidedWhy();

}  // namespace quillon::runlimit
