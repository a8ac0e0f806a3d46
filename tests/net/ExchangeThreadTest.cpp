// The thread that waits on the network for the refresh cycle: the same one
// for every run, and never one that overran its time.
#include <gtest/gtest.h>

#include <memory>

#include "net/ExchangeThread.h"

namespace {

bool handledWhileWorking = false, working = false;

// A window procedure in the system's calling convention (stdcall on i686).
LRESULT CALLBACK Sink(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP) handledWhileWorking = working;
    return DefWindowProcW(h, m, w, l);
}

}  // namespace

TEST(ExchangeThread, OneThreadServesEveryRunWhileMessagesAreHandledAndOneThatOverrunsIsLeft) {
    HWND sink = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(sink);
    SetWindowLongPtrW(sink, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Sink));
    quillon::ExchangeThread exchange;
    DWORD first = 0, second = 0, stuck = 0;
    PostMessageW(sink, WM_APP, 0, 0);
    working = true;
    EXPECT_TRUE(exchange.Run([&] { first = GetCurrentThreadId(), Sleep(300), working = false; }, 5000));
    EXPECT_TRUE(handledWhileWorking) << "the message waited for the work";
    EXPECT_TRUE(exchange.Run([&] { second = GetCurrentThreadId(); }, 5000));
    EXPECT_NE(first, GetCurrentThreadId());
    EXPECT_EQ(first, second) << "a thread for each run";
    DestroyWindow(sink);

    // Overrun: left with what it holds, and the next run goes elsewhere.
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watched = held;
    const DWORD start = GetTickCount();
    auto blocked = [held = std::move(held), &stuck, release] {
        stuck = GetCurrentThreadId();
        WaitForSingleObject(release, 20000);
    };
    EXPECT_FALSE(exchange.Run(std::move(blocked), 300));
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_TRUE(exchange.Run([&] { second = GetCurrentThreadId(); }, 5000));
    EXPECT_NE(second, stuck);
    EXPECT_FALSE(watched.expired()) << "taken from work that still runs";
    SetEvent(release);
    for (DWORD t = GetTickCount(); !watched.expired() && GetTickCount() - t < 5000;) Sleep(10);
    EXPECT_TRUE(watched.expired()) << "kept after its work ended";
    CloseHandle(release);
}
