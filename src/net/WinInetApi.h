#pragma once
// Every WinInet call the program makes goes through this table, so that
// tests can make a given call fail or look at its arguments. WinInet is
// bound by name from the system folder at its first use, never linked:
// a wininet.dll put beside the program must not be the one that loads.
#include <windows.h>
#include <wininet.h>

#include "common/Handle.h"

namespace quillon::net {

#define QUILLON_WININET_CALLS(X)  \
    X(InternetOpenA)              \
    X(InternetConnectA)           \
    X(HttpOpenRequestA)           \
    X(HttpSendRequestA)           \
    X(HttpQueryInfoA)             \
    X(InternetQueryDataAvailable) \
    X(InternetReadFile)           \
    X(InternetSetOptionA)         \
    X(InternetCloseHandle)

struct WinInetApi {
#define QUILLON_WININET_MEMBER(name) decltype(&::name) name;
    QUILLON_WININET_CALLS(QUILLON_WININET_MEMBER)
#undef QUILLON_WININET_MEMBER
};

// The platform's WinInet. Where the library or an export is missing, that
// call fails as a failed call of its own would (null or FALSE).
const WinInetApi& RealWinInet();

// The table in use; the real one unless a test replaced it.
WinInetApi& WinInet();

// A WinInet handle, closed through the table in use.
inline void CloseInternetHandle(HINTERNET h) { WinInet().InternetCloseHandle(h); }
using InternetHandle = UniqueAny<HINTERNET, &CloseInternetHandle>;

}  // namespace quillon::net
