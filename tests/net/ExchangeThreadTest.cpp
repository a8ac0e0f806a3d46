// The thread that waits on the network for the refresh cycle: the same one
// for every refresh, and never one that overran its time.
#include <gtest/gtest.h>

#include <memory>

#include "net/ExchangeThread.h"

using quillon::ExchangeThread;

TEST(ExchangeThread, RunsEveryWorkOnOneThreadWhileThisOneHandlesItsMessages) {
    static bool handled = false, workDone = false;
    handled = workDone = false;
    HWND sink = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(sink);
    SetWindowLongPtrW(sink, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(+[](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                          if (m == WM_APP) handled = !workDone;
                          return DefWindowProcW(h, m, w, l);
                      }));
    ExchangeThread exchange;
    DWORD first = 0, second = 0;
    PostMessageW(sink, WM_APP, 0, 0);
    EXPECT_TRUE(exchange.Run(
        [&] {
            first = GetCurrentThreadId();
            Sleep(300);
            workDone = true;
        },
        5000));
    EXPECT_TRUE(handled) << "the message waited for the work";
    EXPECT_TRUE(exchange.Run([&] { second = GetCurrentThreadId(); }, 5000));
    EXPECT_NE(first, GetCurrentThreadId());
    EXPECT_EQ(first, second) << "a thread for each run";
    DestroyWindow(sink);
}

TEST(ExchangeThread, WorkThatOverrunsIsLeftWithWhatItHoldsAndTheNextRunsElsewhere) {
    ExchangeThread exchange;
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watched = held;
    DWORD stuck = 0, next = 0;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(exchange.Run(
        [held = std::move(held), &stuck, release] {
            stuck = GetCurrentThreadId();
            WaitForSingleObject(release, 20000);
        },
        300));
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 290u);
    EXPECT_LT(waited, 2000u);
    EXPECT_TRUE(exchange.Run([&] { next = GetCurrentThreadId(); }, 5000));
    EXPECT_NE(next, stuck);
    EXPECT_FALSE(watched.expired()) << "taken from work that still runs";
    SetEvent(release);
    for (DWORD t = GetTickCount(); !watched.expired() && GetTickCount() - t < 5000;) Sleep(10);
    EXPECT_TRUE(watched.expired()) << "kept after its work ended";
    CloseHandle(release);
}
