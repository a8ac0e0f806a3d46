#include "net/ExchangePool.h"

#include <deque>

#include "common/DoEvents.h"

namespace quillon {

namespace {

// How often a wait looks at the window's messages. A condition variable
// wakes without a round trip to the system (or Wine's server), which an
// event and a message wait each cost on every refresh.
constexpr DWORD kMessageCheckMs = 10;

}  // namespace

struct ExchangePool::Job {
    std::function<void()> work;
    bool done = false;
};

// Guarded by lock; outlives the pool for a thread still stuck in its work.
struct ExchangePool::Shared {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::deque<Ticket> queue;
    size_t idle = 0, live = 0;
    std::function<void()> first;  // Start's, for its thread alone
    bool preparing = false;  // Start's thread runs that, and takes the next after it
    bool quit = false;

    struct Held {
        explicit Held(Shared& s) : s_(s) { AcquireSRWLockExclusive(&s_.lock); }
        ~Held() { ReleaseSRWLockExclusive(&s_.lock); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        Shared& s_;
    };
};

namespace {

DWORD WINAPI Serve(void* param) {
    const std::shared_ptr<ExchangePool::Shared> shared = [param] {
        std::unique_ptr<std::shared_ptr<ExchangePool::Shared>> handed(
            static_cast<std::shared_ptr<ExchangePool::Shared>*>(param));
        return *handed;
    }();
    ExchangePool::Shared& s = *shared;
    AcquireSRWLockExclusive(&s.lock);
    if (s.first) {  // this is Start's thread
        std::function<void()> first = std::move(s.first);
        ReleaseSRWLockExclusive(&s.lock);
        if (first) first();
        first = nullptr;
        AcquireSRWLockExclusive(&s.lock);
        s.preparing = false;
    }
    for (;;) {
        while (s.queue.empty() && !s.quit) {
            ++s.idle;
            SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
            --s.idle;
        }
        if (s.quit) break;
        const ExchangePool::Ticket job = std::move(s.queue.front());
        s.queue.pop_front();
        std::function<void()> work = std::move(job->work);
        ReleaseSRWLockExclusive(&s.lock);
        if (work) work();
        work = nullptr;  // what it held goes here, on this thread
        AcquireSRWLockExclusive(&s.lock);
        job->done = true;
        WakeAllConditionVariable(&s.changed);
    }
    --s.live;
    WakeAllConditionVariable(&s.changed);
    ReleaseSRWLockExclusive(&s.lock);
    return 0;
}

}  // namespace

ExchangePool::ExchangePool(size_t maxThreads) : shared_(std::make_shared<Shared>()), maxThreads_(maxThreads) {}

ExchangePool::~ExchangePool() { Stop(1000); }

bool ExchangePool::AddThread() {
    auto* handed = new std::shared_ptr<Shared>(shared_);
    HANDLE thread = CreateThread(nullptr, 0, Serve, handed, 0, nullptr);
    if (!thread) {
        delete handed;
        return false;
    }
    threads_.push_back(thread);
    ++shared_->live;
    return true;
}

void ExchangePool::Start(std::function<void()> first) {
    const Shared::Held held(*shared_);
    if (shared_->live || shared_->quit) return;
    shared_->first = std::move(first);
    shared_->preparing = shared_->first != nullptr;
    if (!AddThread()) {
        shared_->first = nullptr;
        shared_->preparing = false;
    }
}

ExchangePool::Ticket ExchangePool::Begin(std::function<void()> work) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    const Shared::Held held(*shared_);
    Shared& s = *shared_;
    if (s.quit) return nullptr;
    const size_t free = s.idle + (s.preparing ? 1 : 0);
    if (free <= s.queue.size() && (s.live >= maxThreads_ || !AddThread())) return nullptr;
    s.queue.push_back(job);
    WakeAllConditionVariable(&s.changed);
    return job;
}

bool ExchangePool::Done(const Ticket& ticket) const {
    const Shared::Held held(*shared_);
    return ticket->done;
}

int ExchangePool::AwaitAny(const std::vector<Ticket>& tickets, DWORD waitMs) const {
    const DWORD started = GetTickCount();
    Shared& s = *shared_;
    for (;;) {
        {
            const Shared::Held held(s);
            for (size_t i = 0; i < tickets.size(); ++i)
                if (tickets[i]->done) return static_cast<int>(i);
            const DWORD elapsed = GetTickCount() - started;
            if (elapsed >= waitMs || tickets.empty()) return -1;
            const DWORD left = waitMs - elapsed;
            SleepConditionVariableSRW(&s.changed, &s.lock, left < kMessageCheckMs ? left : kMessageCheckMs, 0);
        }
        // The window stays alive while it waits.
        if (GetQueueStatus(QS_ALLINPUT)) DoEvents();
    }
}

bool ExchangePool::Stop(DWORD waitMs) {
    {
        const Shared::Held held(*shared_);
        shared_->quit = true;
        // Work not yet taken is never run.
        for (const Ticket& job : shared_->queue) job->done = true;
        shared_->queue.clear();
        WakeAllConditionVariable(&shared_->changed);
    }
    bool gone = true;
    if (!threads_.empty())
        gone = WaitForMultipleObjects(static_cast<DWORD>(threads_.size()), threads_.data(), TRUE, waitMs) !=
               WAIT_TIMEOUT;
    for (HANDLE h : threads_) CloseHandle(h);  // one still stuck ends when its work returns
    threads_.clear();
    return gone;
}

}  // namespace quillon
