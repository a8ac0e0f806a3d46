#pragma once
// One owning wrapper for every kind of handle, after WIL's unique_any: the
// handle type, how it is closed and its empty value are template
// parameters; copies are deleted, moves allowed. The kernel's kinds are
// here; the others live beside the code that knows the kind (GdiHandles.h,
// and the WinInet and theme handles of their subsystems).
#include <windows.h>

#include <utility>

namespace quillon {

template <class Traits>
class UniqueHandle {
public:
    using type = typename Traits::type;

    UniqueHandle() noexcept : h_(Traits::empty()) {}
    explicit UniqueHandle(type h) noexcept : h_(h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~UniqueHandle() { reset(); }

    type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::empty(); }

    type release() noexcept { return std::exchange(h_, Traits::empty()); }

    // Closes the held handle first, so the field is never left naming a
    // handle that was closed already.
    void reset(type h = Traits::empty()) noexcept {
        type old = std::exchange(h_, h);
        if (old != Traits::empty()) Traits::close(old);
    }

private:
    type h_;
};

// A handle type closed by Close, empty when null, or -1 for the kinds that
// use INVALID_HANDLE_VALUE.
template <class T, auto Close, INT_PTR Empty = 0>
struct HandleTraits {
    using type = T;
    static type empty() noexcept { return reinterpret_cast<type>(Empty); }
    static void close(type h) noexcept { Close(h); }
};

template <class T, auto Close, INT_PTR Empty = 0>
using UniqueAny = UniqueHandle<HandleTraits<T, Close, Empty>>;

// Kernel objects: events, mutexes, threads (null when empty), and files
// (INVALID_HANDLE_VALUE when empty).
using KernelHandle = UniqueAny<HANDLE, &CloseHandle>;
using FileHandle = UniqueAny<HANDLE, &CloseHandle, -1>;

// Runs a function when the scope ends, however it ends.
template <class Fn>
class ScopeExit {
public:
    explicit ScopeExit(Fn fn) : fn_(std::move(fn)) {}
    ~ScopeExit() { fn_(); }
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;

private:
    Fn fn_;
};

}  // namespace quillon
