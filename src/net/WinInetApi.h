#pragma once
// Every WinInet call the program makes goes through this table, so that
// tests can make a given call fail or look at its arguments.
#include <windows.h>
#include <wininet.h>

namespace quillon::net {

struct WinInetApi {
    decltype(&::InternetOpenA) InternetOpenA;
    decltype(&::InternetConnectA) InternetConnectA;
    decltype(&::HttpOpenRequestA) HttpOpenRequestA;
    decltype(&::HttpSendRequestA) HttpSendRequestA;
    decltype(&::HttpQueryInfoA) HttpQueryInfoA;
    decltype(&::InternetQueryDataAvailable) InternetQueryDataAvailable;
    decltype(&::InternetReadFile) InternetReadFile;
    decltype(&::InternetSetOptionA) InternetSetOptionA;
    decltype(&::InternetCloseHandle) InternetCloseHandle;
};

// The platform's WinInet.
const WinInetApi& RealWinInet();

// The table in use; the real one unless a test replaced it.
WinInetApi& WinInet();

// Closes through the table in use.
struct InternetHandleTraits {
    using type = HINTERNET;
    static constexpr type empty() { return nullptr; }
    static void close(type h) { WinInet().InternetCloseHandle(h); }
};

}  // namespace quillon::net
