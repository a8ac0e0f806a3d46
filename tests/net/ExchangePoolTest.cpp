// The threads that wait on the network for the refresh cycle: the same one
// for every request while it is free, never more than the bound, each
// piece of work with its own done-flag, and a bounded wait at the end.
#include <gtest/gtest.h>

#include <memory>

#include "net/ExchangePool.h"

namespace {

bool handledWhileWorking = false, working = false;

// A window procedure in the system's calling convention (stdcall on i686).
LRESULT CALLBACK Sink(HWND h, UINT m, WPARAM w, LPARAM l) {
    if (m == WM_APP) handledWhileWorking = working;
    return DefWindowProcW(h, m, w, l);
}

}  // namespace

TEST(ExchangePool, OneThreadServesEachRequestInTurnWhileMessagesAreHandled) {
    HWND sink = CreateWindowW(L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_TRUE(sink);
    SetWindowLongPtrW(sink, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Sink));
    quillon::ExchangePool pool(2);
    DWORD prepared = 0, first = 0, second = 0;
    pool.Start([&] { Sleep(200), prepared = GetCurrentThreadId(); });
    PostMessageW(sink, WM_APP, 0, 0);
    working = true;
    const auto a = pool.Begin([&] { first = GetCurrentThreadId(), Sleep(300), working = false; });
    ASSERT_TRUE(a);
    EXPECT_EQ(pool.AwaitAny({a}, 5000), 0);
    EXPECT_TRUE(handledWhileWorking) << "the message waited for the work";
    const auto b = pool.Begin([&] { second = GetCurrentThreadId(); });
    ASSERT_TRUE(b);
    EXPECT_EQ(pool.AwaitAny({b}, 5000), 0);
    EXPECT_NE(first, GetCurrentThreadId());
    EXPECT_EQ(prepared, first) << "the request waited for the thread that Start made";
    EXPECT_EQ(first, second) << "a thread for each request";
    DestroyWindow(sink);
    EXPECT_TRUE(pool.Stop(1000));
}

TEST(ExchangePool, WorkThatHangsKeepsItsThreadTheBoundHoldsAndTheEndWaitsOnlyAMoment) {
    quillon::ExchangePool pool(2);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watched = held;
    const auto stuck = pool.Begin([held = std::move(held), release] { WaitForSingleObject(release, 20000); });
    // Work that ends at once beside it has a done-flag of its own.
    const auto quick = pool.Begin([] {});
    ASSERT_TRUE(stuck && quick);
    EXPECT_EQ(pool.AwaitAny({stuck, quick}, 5000), 1);
    EXPECT_FALSE(pool.Done(stuck));
    const auto blocking = pool.Begin([release] { WaitForSingleObject(release, 20000); });
    ASSERT_TRUE(blocking);
    EXPECT_EQ(pool.AwaitAny({blocking}, 200), -1);
    EXPECT_FALSE(pool.Begin([] {})) << "a third thread beyond the bound";

    const DWORD start = GetTickCount();
    EXPECT_FALSE(pool.Stop(300));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(pool.Begin([] {})) << "work after the end";
    EXPECT_FALSE(watched.expired()) << "taken from work that still runs";
    SetEvent(release);
    for (DWORD t = GetTickCount(); !(pool.Done(stuck) && pool.Done(blocking)) && GetTickCount() - t < 5000;) Sleep(10);
    EXPECT_TRUE(pool.Done(stuck) && pool.Done(blocking));
    EXPECT_TRUE(watched.expired()) << "kept after its work ended";
    CloseHandle(release);
}
