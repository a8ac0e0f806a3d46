#pragma once
// The threads that wait on the network for the refresh cycle, so that no
// blocking call (a name lookup, a server that trickles its header) holds
// the window. A thread serves one piece of work at a time and stays for
// the next, so a refresh usually starts none. There are never more than a
// few: a thread stuck in a call that nothing ends stays busy, and work
// that finds every thread busy is refused, not queued or run here.
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

namespace quillon {

class ExchangePool {
public:
    explicit ExchangePool(size_t maxThreads = 4);
    // Stop, with a short wait.
    ~ExchangePool();
    ExchangePool(const ExchangePool&) = delete;
    ExchangePool& operator=(const ExchangePool&) = delete;

    struct Shared;  // the pool's state, shared with its threads
    struct Job;     // one piece of work handed over, with its own done-flag
    // Stays valid however long the work takes.
    using Ticket = std::shared_ptr<Job>;

    // Hands work to an idle thread, or to a new one while there are fewer
    // than maxThreads, and returns at once; null when every thread is busy
    // or none can be made.
    Ticket Begin(std::function<void()> work);

    // Lets the window handle its messages until one of tickets is done, for
    // at most waitMs; its index, or -1.
    int AwaitAny(const std::vector<Ticket>& tickets, DWORD waitMs) const;
    bool Done(const Ticket& ticket) const;

    // Starts one thread now with work of its own (what the first request
    // will need), so that it is ready by then; the first Begin waits for it
    // rather than starting another.
    void Start(std::function<void()> first);

    // Ends every thread: idle ones at once, busy ones when their work
    // returns. Waits up to waitMs for all to be gone; true when they are.
    bool Stop(DWORD waitMs);

private:
    bool AddThread();

    std::shared_ptr<Shared> shared_;
    std::vector<HANDLE> threads_;
    const size_t maxThreads_;
};

}  // namespace quillon
