#include "common/OleAutomation.h"

#include "common/SystemLibrary.h"

namespace quillon::ole {
namespace {

// Loaded once, at the first call of any of them, and kept for the process's life.
HMODULE OleAut32() {
    static const HMODULE oleaut32 = LoadSystemLibrary(L"oleaut32.dll");
    return oleaut32;
}

template <class Fn>
Fn Bound(const char* name) {
    return ProcAddress<Fn>(OleAut32(), name);
}

}  // namespace

HRESULT CreatePictureIndirect(PICTDESC* desc, REFIID iid, BOOL own, void** out) {
    static const auto fn = Bound<decltype(&::OleCreatePictureIndirect)>("OleCreatePictureIndirect");
    return fn ? fn(desc, iid, own, out) : E_NOTIMPL;
}

HRESULT CreateFontIndirect(FONTDESC* desc, REFIID iid, void** out) {
    static const auto fn = Bound<decltype(&::OleCreateFontIndirect)>("OleCreateFontIndirect");
    return fn ? fn(desc, iid, out) : E_NOTIMPL;
}

BSTR AllocStringLen(const OLECHAR* text, UINT length) {
    static const auto fn = Bound<decltype(&::SysAllocStringLen)>("SysAllocStringLen");
    return fn ? fn(text, length) : nullptr;
}

UINT StringLen(BSTR text) {
    static const auto fn = Bound<decltype(&::SysStringLen)>("SysStringLen");
    return fn ? fn(text) : 0;
}

HRESULT ChangeType(VARIANTARG* to, VARIANTARG* from, USHORT flags, VARTYPE type) {
    static const auto fn = Bound<decltype(&::VariantChangeType)>("VariantChangeType");
    return fn ? fn(to, from, flags, type) : E_NOTIMPL;
}

HRESULT Clear(VARIANTARG* v) {
    // An empty one has nothing to free, and most are.
    if (v->vt == VT_EMPTY) return S_OK;
    static const auto fn = Bound<decltype(&::VariantClear)>("VariantClear");
    return fn ? fn(v) : E_NOTIMPL;
}

}  // namespace quillon::ole
