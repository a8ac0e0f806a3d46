#include "net/ExchangeThread.h"

#include "common/DoEvents.h"
#include "common/Handle.h"

namespace quillon {

// Shared by the caller and the thread, so that a thread left behind with
// its work still has what it waits on.
struct ExchangeThread::State {
    KernelHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    KernelHandle done{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    std::function<void()> work;
    volatile LONG quit = 0;
};

namespace {

DWORD WINAPI Serve(void* param) {
    const std::shared_ptr<ExchangeThread::State> state = [param] {
        std::unique_ptr<std::shared_ptr<ExchangeThread::State>> handed(
            static_cast<std::shared_ptr<ExchangeThread::State>*>(param));
        return *handed;
    }();
    for (;;) {
        WaitForSingleObject(state->wake.get(), INFINITE);
        if (InterlockedCompareExchange(&state->quit, 0, 0)) return 0;
        std::function<void()> work = std::move(state->work);
        state->work = nullptr;
        if (work) work();
        work = nullptr;  // what it held goes here, on this thread
        SetEvent(state->done.get());
    }
}

}  // namespace

ExchangeThread::~ExchangeThread() {
    if (!state_) return;
    Abandon();
    // Gone before its owner is: a thread still ending while the process
    // tears down its runtime may find it torn.
    WaitForSingleObject(thread_.get(), 5000);
}

bool ExchangeThread::Start() {
    auto state = std::make_shared<State>();
    if (!state->wake || !state->done) return false;
    auto* handed = new std::shared_ptr<State>(state);
    thread_.reset(CreateThread(nullptr, 0, Serve, handed, 0, nullptr));
    if (!thread_) {
        delete handed;
        return false;
    }
    state_ = std::move(state);
    return true;
}

void ExchangeThread::Abandon() {
    // Woken once more, the thread finds quit set as soon as its work ends.
    InterlockedExchange(&state_->quit, 1);
    SetEvent(state_->wake.get());
    state_.reset();
}

bool ExchangeThread::Run(std::function<void()> work, DWORD waitMs) {
    if (!state_ && !Start()) {
        work();
        return true;
    }
    state_->work = std::move(work);
    SetEvent(state_->wake.get());
    const DWORD started = GetTickCount();
    HANDLE done = state_->done.get();
    for (;;) {
        const DWORD elapsed = GetTickCount() - started;
        const DWORD left = elapsed < waitMs ? waitMs - elapsed : 0;
        const DWORD woken = MsgWaitForMultipleObjects(1, &done, FALSE, left, QS_ALLINPUT);
        if (woken == WAIT_OBJECT_0) return true;
        if (woken != WAIT_OBJECT_0 + 1 || left == 0) break;
        DoEvents();
    }
    Abandon();
    thread_.reset();  // left to end when its work does
    return false;
}

}  // namespace quillon
