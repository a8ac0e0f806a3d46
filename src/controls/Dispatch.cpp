#include "controls/Dispatch.h"

#include <oleauto.h>

#include "common/OleHandles.h"

namespace quillon::controls {

HRESULT STDMETHODCALLTYPE DispatchObject::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE DispatchObject::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG STDMETHODCALLTYPE DispatchObject::Release() {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
}

HRESULT STDMETHODCALLTYPE DispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (size_t p = 0; p < properties_.size(); ++p)
            if (names[i] && _wcsicmp(names[i], properties_[p].name.c_str()) == 0)
                ids[i] = static_cast<DISPID>(p + 1);
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                                 VARIANT* result, EXCEPINFO*, UINT*) {
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    if (id < 1 || static_cast<size_t>(id) > properties_.size()) return DISP_E_MEMBERNOTFOUND;
    Variant scratch;  // for a caller that wants no result
    VARIANT* out = result ? result : scratch.get();
    ole::Init(out);
    return properties_[static_cast<size_t>(id - 1)].get(out);
}

void DispatchObject::Define(const std::wstring& name, Getter getter) {
    properties_.push_back({name, std::move(getter)});
}

HRESULT GetProperty(IDispatch* object, const wchar_t* name, VARIANT* result) {
    if (!result) return E_POINTER;
    ole::Clear(result);
    if (!object) return E_POINTER;
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS none{};
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, result, nullptr,
                          nullptr);
}

HRESULT SetBool(VARIANT* v, bool value) {
    v->vt = VT_BOOL;
    v->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT SetI2(VARIANT* v, short value) {
    v->vt = VT_I2;
    v->iVal = value;
    return S_OK;
}

HRESULT SetI4(VARIANT* v, LONG value) {
    v->vt = VT_I4;
    v->lVal = value;
    return S_OK;
}

HRESULT SetHandle(VARIANT* v, const void* handle) {
#ifdef _WIN64
    v->vt = VT_I8;
    v->llVal = reinterpret_cast<LONGLONG>(handle);
#else
    v->vt = VT_I4;
    v->lVal = reinterpret_cast<LONG>(handle);
#endif
    return S_OK;
}

HRESULT SetText(VARIANT* v, const std::wstring& text) {
    v->vt = VT_BSTR;
    v->bstrVal = ole::AllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v->bstrVal ? S_OK : E_OUTOFMEMORY;
}

HRESULT SetObject(VARIANT* v, IUnknown* object) {
    v->vt = VT_DISPATCH;
    v->pdispVal = nullptr;
    if (!object) return S_OK;
    return object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v->pdispVal));
}

}  // namespace quillon::controls
