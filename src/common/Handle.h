#pragma once
// One owning wrapper for every kind of handle: the traits name the handle
// type, its empty value and how it is released.
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

}  // namespace quillon
