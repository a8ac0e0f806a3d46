#include "net/WinInetApi.h"

#include "common/SystemLibrary.h"

namespace quillon::net {
namespace {

// Stands in for an entry point that could not be bound.
template <class Fn>
struct Missing;
template <class R, class... A>
struct Missing<R(WINAPI*)(A...)> {
    static R WINAPI Call(A...) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return R{};
    }
};

template <class Fn>
Fn Bind(HMODULE module, const char* name) {
    Fn fn = ProcAddress<Fn>(module, name);
    return fn ? fn : &Missing<Fn>::Call;
}

}  // namespace

const WinInetApi& RealWinInet() {
    static const WinInetApi real = [] {
        HMODULE wininet = LoadSystemLibrary(L"wininet.dll");  // kept for the process's life
        WinInetApi api{};
#define QUILLON_WININET_BIND(name) api.name = Bind<decltype(&::name)>(wininet, #name);
        QUILLON_WININET_CALLS(QUILLON_WININET_BIND)
#undef QUILLON_WININET_BIND
        return api;
    }();
    return real;
}

WinInetApi& WinInet() {
    static WinInetApi active = RealWinInet();
    return active;
}

}  // namespace quillon::net
