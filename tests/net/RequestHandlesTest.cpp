// A request's handles closed by the cycle while a WinInet call on one of
// them blocks: the call's handle stays open until the call returns, the
// close does not wait for it, and every handle is closed once.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/AddressRequest.h"

using namespace quillon;

namespace {

enum class Blocks { None, Send, Available, Read };

struct Fake {
    Blocks blocks = Blocks::Send;
    int next = 0;
    std::set<HINTERNET> live;             // opened and not yet closed
    std::map<HINTERNET, int> inCall;      // calls under way, by handle
    std::map<HINTERNET, int> closes;
    std::vector<std::string> faults;      // what must never happen
    std::vector<std::string> events;
    size_t read = 0;  // bytes of the body read so far
    HANDLE entered = nullptr, release = nullptr;
} fake;
std::mutex fakeLock;
using Guard = std::lock_guard<std::mutex>;
const std::string kBody = "203.0.113.7";

std::string Name(HINTERNET h) { return std::to_string(reinterpret_cast<INT_PTR>(h)); }

HINTERNET NewHandle() {
    const Guard guard(fakeLock);
    HINTERNET h = reinterpret_cast<HINTERNET>(static_cast<INT_PTR>(++fake.next));
    fake.live.insert(h);
    return h;
}

// Every call on a handle goes through here: it must be open, and stays in
// a call until the matching EndCall.
void BeginCall(HINTERNET h, const char* what) {
    const Guard guard(fakeLock);
    fake.events.push_back(std::string(what) + " " + Name(h));
    if (!fake.live.count(h)) fake.faults.push_back(std::string(what) + " on closed handle " + Name(h));
    ++fake.inCall[h];
}
void EndCall(HINTERNET h) {
    const Guard guard(fakeLock);
    --fake.inCall[h];
}
// The call that blocks: it says it has started, then waits to be let go.
void MaybeBlock(Blocks here) {
    if (fake.blocks != here) return;
    SetEvent(fake.entered);
    WaitForSingleObject(fake.release, INFINITE);
}

HINTERNET WINAPI FakeOpen(LPCSTR, DWORD, LPCSTR, LPCSTR, DWORD) { return NewHandle(); }
HINTERNET WINAPI FakeConnect(HINTERNET, LPCSTR, INTERNET_PORT, LPCSTR, LPCSTR, DWORD, DWORD, DWORD_PTR) {
    return NewHandle();
}
HINTERNET WINAPI FakeOpenRequest(HINTERNET connection, LPCSTR, LPCSTR, LPCSTR, LPCSTR, LPCSTR*, DWORD, DWORD_PTR) {
    BeginCall(connection, "open-request");
    EndCall(connection);
    return NewHandle();
}
BOOL WINAPI FakeSend(HINTERNET h, LPCSTR, DWORD, LPVOID, DWORD) {
    BeginCall(h, "send");
    MaybeBlock(Blocks::Send);
    EndCall(h);
    return TRUE;
}
BOOL WINAPI FakeQueryInfo(HINTERNET h, DWORD level, LPVOID buffer, LPDWORD, LPDWORD) {
    BeginCall(h, "query");
    EndCall(h);
    if ((level & 0xFFFF) != HTTP_QUERY_STATUS_CODE) return FALSE;
    *static_cast<DWORD*>(buffer) = 200;
    return TRUE;
}
BOOL WINAPI FakeAvailable(HINTERNET h, LPDWORD available, DWORD, DWORD_PTR) {
    BeginCall(h, "available");
    MaybeBlock(Blocks::Available);
    EndCall(h);
    *available = static_cast<DWORD>(kBody.size() - fake.read);
    return TRUE;
}
BOOL WINAPI FakeRead(HINTERNET h, LPVOID buffer, DWORD size, LPDWORD n) {
    BeginCall(h, "read");
    MaybeBlock(Blocks::Read);
    EndCall(h);
    *n = static_cast<DWORD>(std::min<size_t>(size, kBody.size() - fake.read));
    std::memcpy(buffer, kBody.data() + fake.read, *n);
    fake.read += *n;
    return TRUE;
}
BOOL WINAPI FakeSetOption(HINTERNET h, DWORD, LPVOID, DWORD) {
    BeginCall(h, "set-option");
    EndCall(h);
    return TRUE;
}
BOOL WINAPI FakeClose(HINTERNET h) {
    const Guard guard(fakeLock);
    fake.events.push_back("close " + Name(h));
    ++fake.closes[h];
    if (fake.inCall[h] > 0) fake.faults.push_back("closed under a call: " + Name(h));
    fake.live.erase(h);
    return TRUE;
}

class RequestHandlesTest : public ::testing::TestWithParam<Blocks> {
protected:
    void SetUp() override {
        fake = Fake{};
        fake.blocks = GetParam();
        fake.entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        fake.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        saved_ = net::WinInet();
        net::WinInet() = {FakeOpen,      FakeConnect, FakeOpenRequest, FakeSend, FakeQueryInfo,
                          FakeAvailable, FakeRead,    FakeSetOption,   FakeClose};
    }
    void TearDown() override {
        SetEvent(fake.release);
        if (worker_.joinable()) worker_.join();
        net::WinInet() = saved_;
        CloseHandle(fake.entered);
        CloseHandle(fake.release);
    }
    // An exchange as the cycle makes it, running on a thread of its own.
    void Start() {
        x_.session = NewHandle();
        x_.connection = NewHandle();
        x_.handles.Add(x_.session);
        x_.handles.Add(x_.connection);
        x_.server.host = "ip.varnhold.example";
        x_.server.object = "/ip.shtml";
        x_.started = GetTickCount();
        x_.waitMs = 60000;
        worker_ = std::thread([this] { net::RunExchange(x_); });
    }

    net::Exchange x_;
    std::thread worker_;
    net::WinInetApi saved_{};
};

}  // namespace

TEST_P(RequestHandlesTest, TheCycleClosesWithoutWaitingAndTheBlockedCallsHandleOutlivesTheCall) {
    Start();
    ASSERT_EQ(WaitForSingleObject(fake.entered, 10000), WAIT_OBJECT_0) << "the call never blocked";
    HINTERNET request = nullptr;
    {
        const Guard guard(fakeLock);
        for (const auto& [h, n] : fake.inCall)
            if (n > 0) request = h;
    }
    ASSERT_NE(request, nullptr);

    const DWORD before = GetTickCount();
    x_.handles.CloseAll();
    EXPECT_LT(GetTickCount() - before, 1000u) << "CloseAll waited for the blocked call";
    {
        const Guard guard(fakeLock);
        EXPECT_EQ(fake.closes[x_.session], 1);
        EXPECT_EQ(fake.closes[x_.connection], 1);
        EXPECT_EQ(fake.closes[request], 0) << "closed while its call was blocked";
    }
    // The cycle closing again, as it does once it reads the outcome, changes nothing.
    x_.handles.CloseAll();

    SetEvent(fake.release);
    worker_.join();
    const Guard guard(fakeLock);
    EXPECT_EQ(fake.closes[request], 1) << "the request was not closed when its call returned";
    EXPECT_TRUE(fake.faults.empty()) << fake.faults.front();
    for (const auto& [h, n] : fake.closes) EXPECT_EQ(n, 1) << "handle " << Name(h);
    EXPECT_TRUE(fake.live.empty());
    // Nothing was asked of the request once its call returned but its close.
    EXPECT_EQ(fake.events.back(), "close " + Name(request));
    EXPECT_EQ(x_.why, L"stopped");
    EXPECT_FALSE(x_.answered);
}

INSTANTIATE_TEST_SUITE_P(EachBlockingCall, RequestHandlesTest,
                         ::testing::Values(Blocks::Send, Blocks::Available, Blocks::Read));

// With nothing closed meanwhile, the same exchange reads its answer and
// closes what it opened once.
TEST(RequestHandles, AnExchangeLeftAloneAnswersAndClosesItsRequestOnce) {
    fake = Fake{};
    fake.blocks = Blocks::None;
    const net::WinInetApi saved = net::WinInet();
    net::WinInet() = {FakeOpen,      FakeConnect, FakeOpenRequest, FakeSend, FakeQueryInfo,
                      FakeAvailable, FakeRead,    FakeSetOption,   FakeClose};
    {
        net::Exchange x;
        x.session = NewHandle();
        x.connection = NewHandle();
        x.handles.Add(x.session);
        x.handles.Add(x.connection);
        x.server.host = "ip.varnhold.example";
        x.server.object = "/ip.shtml";
        x.started = GetTickCount();
        x.waitMs = 60000;
        net::RunExchange(x);
        EXPECT_TRUE(x.answered);
        EXPECT_EQ(x.body, kBody);
        x.handles.CloseAll();
    }
    net::WinInet() = saved;
    EXPECT_TRUE(fake.faults.empty());
    EXPECT_EQ(fake.closes.size(), 3u);
    for (const auto& [h, n] : fake.closes) EXPECT_EQ(n, 1) << "handle " << Name(h);
}
