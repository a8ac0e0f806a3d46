// A request's handles closed by the cycle while a WinInet call on one of
// them blocks: the call's handle stays open until the call returns, the
// close does not wait for it, and every handle is closed once.
#include <gtest/gtest.h>

#include <map>
#include <mutex>

#include "net/AddressRequest.h"

using namespace quillon;

namespace {

std::mutex closesLock;
std::map<HINTERNET, int> closes;
BOOL WINAPI CountClose(HINTERNET h) {
    const std::lock_guard<std::mutex> guard(closesLock);
    ++closes[h];
    return TRUE;
}
int Closes(HINTERNET h) {
    const std::lock_guard<std::mutex> guard(closesLock);
    return closes[h];
}

HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr), release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
struct Blocked {
    net::RequestHandles* handles;
    HINTERNET h;
    int closesInCall = -1;  // the handle's closes seen from inside the call, as it ends
};
DWORD WINAPI CallThatBlocks(void* param) {
    auto& b = *static_cast<Blocked*>(param);
    b.handles->Blocking(b.h, [&] {
        SetEvent(entered);
        WaitForSingleObject(release, INFINITE);
        b.closesInCall = Closes(b.h);
    });
    return 0;
}

}  // namespace

TEST(RequestHandles, ACloseDuringABlockingCallLeavesItsHandleToTheCallAndNeverWaits) {
    const net::WinInetApi saved = net::WinInet();
    net::WinInet().InternetCloseHandle = CountClose;
    HINTERNET session = reinterpret_cast<HINTERNET>(INT_PTR{101}), request = reinterpret_cast<HINTERNET>(INT_PTR{102});
    {
        net::RequestHandles handles;
        handles.Add(session);
        handles.Add(request);
        Blocked b{&handles, request};
        HANDLE thread = CreateThread(nullptr, 0, CallThatBlocks, &b, 0, nullptr);
        ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);

        const DWORD before = GetTickCount();
        handles.CloseAll();
        EXPECT_LT(GetTickCount() - before, 1000u) << "the close waited for the call";
        EXPECT_EQ(Closes(session), 1);
        EXPECT_EQ(Closes(request), 0) << "closed under its call";
        // A closed set starts no call, on the busy handle or any other.
        bool ran = false;
        EXPECT_FALSE(handles.Blocking(request, [&] { ran = true; }) || handles.Blocking(session, [&] { ran = true; }));
        EXPECT_FALSE(ran);
        handles.CloseAll();  // again, as the cycle's end does: nothing twice

        SetEvent(release);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);
        EXPECT_EQ(b.closesInCall, 0);
        EXPECT_EQ(Closes(request), 1) << "not closed as its call returned";
    }
    net::WinInet() = saved;
    for (const auto& [h, n] : closes) EXPECT_EQ(n, 1) << reinterpret_cast<INT_PTR>(h);
}
