#pragma once
// The thread that waits on the network for the refresh cycle, one for the
// cycle's whole life: a refresh hands it the work and lets the window
// handle its messages until it is done, so no blocking call (a name lookup,
// a server that trickles its header) can hold the window. A refresh starts
// no thread, unless the last one overran and was left behind.
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "common/Handle.h"

namespace quillon {

class ExchangeThread {
public:
    ExchangeThread() = default;
    // Ends the thread, which is idle: every run ended or was left behind.
    ~ExchangeThread();
    ExchangeThread(const ExchangeThread&) = delete;
    ExchangeThread& operator=(const ExchangeThread&) = delete;

    struct State;  // shared with the thread
    // One piece of work handed over, to be waited for; it stays valid
    // however long the work takes.
    using Ticket = std::shared_ptr<State>;

    // Runs work on the thread while this one lets the window handle its
    // messages, for at most waitMs. True when the work ended in that time.
    // When it did not, the thread is left to finish the work alone, and
    // whatever the work holds stays its own; the next call starts another
    // thread. Where no thread can be had, the work runs here, at once.
    bool Run(std::function<void()> work, DWORD waitMs);

    // Hands work over and returns at once. A thread still busy with earlier
    // work is left to it and another takes this; one still busy with what
    // Start gave it takes this next.
    Ticket Begin(std::function<void()> work);

    // Lets the window handle its messages until one of tickets is done, for
    // at most waitMs; its index, or -1.
    static int AwaitAny(const std::vector<Ticket>& tickets, DWORD waitMs);

    // Ends the thread and waits a moment for it to be gone, for a program
    // about to end. A thread left behind with work that overran is not
    // waited for.
    void Stop();

    // Starts the thread now rather than at the first run, with work of its
    // own to begin with (what the first run will need), not waited for: the
    // next run waits for it within its own time. A no-op once started.
    void Start(std::function<void()> first = nullptr);

private:
    bool Idle() const;  // the thread has no work, or has ended the last
    void Abandon();

    std::shared_ptr<State> state_;
    KernelHandle thread_;
    bool preparing_ = false;  // busy with what Start gave it, if busy
};

}  // namespace quillon
