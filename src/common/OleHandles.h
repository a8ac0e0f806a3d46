#pragma once
// OLE's own: a VARIANT that is cleared, and the widening of OLE's 32-bit
// image handles.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>

#include "common/OleAutomation.h"

namespace quillon {

// A VARIANT, empty at first and cleared when it goes.
class Variant {
public:
    Variant() noexcept { ole::Init(&v_); }
    ~Variant() { ole::Clear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() noexcept { return &v_; }
    const VARIANT& operator*() const noexcept { return v_; }
    const VARIANT* operator->() const noexcept { return &v_; }

private:
    VARIANT v_;
};

// OLE keeps image handles in 32 bits; GDI and USER handles widen to the
// pointer size by sign extension.
template <class H>
H FromOleHandle(OLE_HANDLE handle) {
    return reinterpret_cast<H>(static_cast<LONG_PTR>(static_cast<LONG>(handle)));
}

}  // namespace quillon
