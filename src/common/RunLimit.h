#pragma once
// A silent run has a time limit: a scheduled task that never ends keeps the
// next one from starting. The limit never cuts a write of a file the user
// relies on (the log, the settings), and never fails a run that has done
// its work.
#include <windows.h>

namespace quillon::runlimit {

// What ends the process when the limit comes; tests put a recorder here.
using EndFn = void (*)(UINT exitCode);
void EndProcess(UINT exitCode);

// Starts a thread that watches the time. After limitMs it waits for a
// write under way (up to graceMs, for a write that hangs on a dead share),
// then ends the process: with Succeeded's code if the run did its work,
// else 1.
void Start(DWORD limitMs, DWORD graceMs = 15000, EndFn end = EndProcess);

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

// The run's exit code, decided as it ends: from then on the limit ends it
// with that code, whatever Succeeded said. Call it inside a Writing, so
// that a limit coming meanwhile waits for the decision.
void Decide(UINT exitCode);

// The run has done its work; the limit now ends it with exitCode (0, or
// kPartlyDone where one address of two was found). Call it inside the
// Writing that wrote the run's result, so that no moment lies between.
constexpr UINT kPartlyDone = 3;
void Succeeded(UINT exitCode = 0);

}  // namespace quillon::runlimit
