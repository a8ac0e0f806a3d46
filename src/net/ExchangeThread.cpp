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
        s.done = true;
        WakeAllConditionVariable(&s.changed);
    }
}

}  // namespace

ExchangeThread::~ExchangeThread() { Stop(); }

void ExchangeThread::Stop() {
    if (!state_) return;
    // Gone before its owner is: a thread still ending while the process
    // tears down its runtime may find it torn.
    const KernelHandle thread = std::move(thread_);
    Abandon();
    WaitForSingleObject(thread.get(), 5000);
}

void ExchangeThread::Start(std::function<void()> first) {
    if (state_) return;
    auto state = std::make_shared<State>();
    if (first) state->Hand(std::move(first));  // no thread to wake yet
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

// Until the work the thread has is done, letting the window handle its
// messages; false when waitMs since started runs out first.
bool ExchangeThread::AwaitDone(DWORD started, DWORD waitMs) {
    State& s = *state_;
    for (;;) {
        {
            const State::Held held(s);
            const DWORD elapsed = GetTickCount() - started;
            const DWORD left = elapsed < waitMs ? waitMs - elapsed : 0;
            if (!s.done && left > 0)
                SleepConditionVariableSRW(&s.changed, &s.lock, left < kMessageCheckMs ? left : kMessageCheckMs, 0);
            if (s.done) return true;
            if (GetTickCount() - started >= waitMs) return false;
        }
        // The window stays alive while it waits.
        if (GetQueueStatus(QS_ALLINPUT)) DoEvents();
    }
}

bool ExchangeThread::Run(std::function<void()> work, DWORD waitMs) {
    const DWORD started = GetTickCount();
    // What Start handed over first, if it still runs.
    if (state_ && !AwaitDone(started, waitMs)) Abandon();
    Start();
    if (!state_) {
        work();
        return true;
    }
    {
        const State::Held held(*state_);
        state_->Hand(std::move(work));
    }
    if (AwaitDone(started, waitMs)) return true;
    Abandon();
    return false;
}

}  // namespace quillon
