#include "net/WinInetApi.h"

namespace quillon::net {

const WinInetApi& RealWinInet() {
    static const WinInetApi real{
        ::InternetOpenA,    ::InternetConnectA,           ::HttpOpenRequestA,
        ::HttpSendRequestA, ::HttpQueryInfoA,             ::InternetQueryDataAvailable,
        ::InternetReadFile, ::InternetSetOptionA,         ::InternetCloseHandle,
    };
    return real;
}

WinInetApi& WinInet() {
    static WinInetApi active = RealWinInet();
    return active;
}

}  // namespace quillon::net
