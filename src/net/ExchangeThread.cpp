#include "net/ExchangeThread.h"

#include "common/DoEvents.h"

namespace quillon {

namespace {

// How often a wait looks at the window's messages. A condition variable
// wakes without a round trip to the system (or Wine's server), which an
// event and a message wait each cost on every refresh.
constexpr DWORD kMessageCheckMs = 10;

}  // namespace

// Shared by the caller and the thread, so that a thread left behind with
// its work still has what it waits on. Guarded by lock.
struct ExchangeThread::State {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::function<void()> work;
    bool handed = false;  // work is there to be taken
    bool done = true;     // no work taken, or the work taken last has ended
    bool quit = false;

    // Holds the lock for a scope.
    struct Held {
        explicit Held(State& s) : s_(s) { AcquireSRWLockExclusive(&s_.lock); }
        ~Held() { ReleaseSRWLockExclusive(&s_.lock); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        State& s_;
    };

    // Under the lock.
    void Hand(std::function<void()> next) {
        work = std::move(next);
        handed = true;
        done = false;
        WakeAllConditionVariable(&changed);
    }
};

namespace {

DWORD WINAPI Serve(void* param) {
    const std::shared_ptr<ExchangeThread::State> state = [param] {
        std::unique_ptr<std::shared_ptr<ExchangeThread::State>> handed(
            static_cast<std::shared_ptr<ExchangeThread::State>*>(param));
        return *handed;
    }();
    ExchangeThread::State& s = *state;
    for (;;) {
        std::function<void()> work;
        {
            const ExchangeThread::State::Held held(s);
            while (!s.handed && !s.quit) SleepConditionVariableSRW(&s.changed, &s.lock, INFINITE, 0);
            if (s.quit && !s.handed) return 0;
            work = std::move(s.work);
            s.work = nullptr;
            s.handed = false;
        }
        if (work) work();
        work = nullptr;  // what it held goes here, on this thread
        const ExchangeThread::State::Held held(s);
        s.done = !s.handed;  // work handed while this ran is still to come
        WakeAllConditionVariable(&s.changed);
    }
}

}  // namespace

ExchangeThread::~ExchangeThread() { Stop(); }

bool ExchangeThread::Idle() const {
    const State::Held held(*state_);
    return state_->done;
}

void ExchangeThread::Stop() {
    if (!state_) return;
    const bool idle = Idle();
    // An idle one is gone before its owner is: a thread still ending while
    // the process tears down its runtime may find it torn. One still busy
    // with a request that was outrun is left to it.
    const KernelHandle thread = std::move(thread_);
    Abandon();
    if (idle) WaitForSingleObject(thread.get(), 5000);
}

void ExchangeThread::Start(std::function<void()> first) {
    if (state_) return;
    auto state = std::make_shared<State>();
    if (first) state->Hand(std::move(first));  // no thread to wake yet
    preparing_ = first != nullptr;
    auto* handed = new std::shared_ptr<State>(state);
    thread_.reset(CreateThread(nullptr, 0, Serve, handed, 0, nullptr));
    if (!thread_) {
        delete handed;
        return;
    }
    state_ = std::move(state);
}

void ExchangeThread::Abandon() {
    {
        // The thread ends as soon as its work does, or at once if it has none.
        const State::Held held(*state_);
        state_->quit = true;
        WakeAllConditionVariable(&state_->changed);
    }
    state_.reset();
    thread_.reset();  // left to end when its work does
}

ExchangeThread::Ticket ExchangeThread::Begin(std::function<void()> work) {
    // Busy with an earlier request of its own: left to it.
    if (state_ && !preparing_ && !Idle()) Abandon();
    preparing_ = false;
    Start();
    if (!state_) {
        work();
        return std::make_shared<State>();  // done from the start
    }
    const State::Held held(*state_);
    state_->Hand(std::move(work));
    return state_;
}

int ExchangeThread::AwaitAny(const std::vector<Ticket>& tickets, DWORD waitMs) {
    const DWORD started = GetTickCount();
    for (;;) {
        for (size_t i = 0; i < tickets.size(); ++i) {
            const State::Held held(*tickets[i]);
            if (tickets[i]->done) return static_cast<int>(i);
        }
        const DWORD elapsed = GetTickCount() - started;
        if (elapsed >= waitMs || tickets.empty()) return -1;
        {
            // Woken by the newest, the one most likely to end; the others
            // are looked at again within the message check's time.
            State& s = *tickets.back();
            const State::Held held(s);
            const DWORD left = waitMs - elapsed;
            if (!s.done) SleepConditionVariableSRW(&s.changed, &s.lock, left < kMessageCheckMs ? left : kMessageCheckMs, 0);
        }
        // The window stays alive while it waits.
        if (GetQueueStatus(QS_ALLINPUT)) DoEvents();
    }
}

bool ExchangeThread::Run(std::function<void()> work, DWORD waitMs) {
    const DWORD started = GetTickCount();
    const Ticket ticket = Begin(std::move(work));
    const DWORD elapsed = GetTickCount() - started;
    if (AwaitAny({ticket}, elapsed < waitMs ? waitMs - elapsed : 0) == 0) return true;
    if (ticket == state_) Abandon();
    return false;
}

}  // namespace quillon
