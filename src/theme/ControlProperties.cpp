#include "theme/ControlProperties.h"

#include <oleauto.h>

#include "common/OleHandles.h"
#include "controls/Dispatch.h"

namespace quillon::theme {
namespace {

// A property read and converted to one type (VT_EMPTY: as it came).
class Read {
public:
    Read(IDispatch* object, const wchar_t* name, VARTYPE type) {
        hr_ = controls::GetProperty(object, name, raw_.get());
        if (SUCCEEDED(hr_) && type != VT_EMPTY) hr_ = ole::ChangeType(value_.get(), raw_.get(), 0, type);
    }

    HRESULT hr() const { return hr_; }
    VARIANT& raw() { return *raw_.get(); }
    VARIANT& value() { return *value_.get(); }

private:
    Variant raw_;
    Variant value_;
    HRESULT hr_;
};

}  // namespace

HRESULT ReadTruth(IDispatch* object, const wchar_t* name, bool& value) {
    Read r(object, name, VT_EMPTY);
    if (FAILED(r.hr())) return r.hr();
    if (r.raw().vt == VT_NULL) {
        value = false;
        return S_OK;
    }
    Variant b;
    const HRESULT hr = ole::ChangeType(b.get(), &r.raw(), 0, VT_BOOL);
    if (SUCCEEDED(hr)) value = b->boolVal != VARIANT_FALSE;
    return hr;
}

HRESULT ReadInt32(IDispatch* object, const wchar_t* name, LONG& value) {
    Read r(object, name, VT_I4);
    if (SUCCEEDED(r.hr())) value = r.value().lVal;
    return r.hr();
}

HRESULT ReadText(IDispatch* object, const wchar_t* name, std::wstring& value) {
    Read r(object, name, VT_BSTR);
    if (SUCCEEDED(r.hr())) {
        const BSTR s = r.value().bstrVal;
        value.assign(s ? s : L"", s ? ole::StringLen(s) : 0);
    }
    return r.hr();
}

HRESULT ReadWindow(IDispatch* object, const wchar_t* name, HWND& value) {
    Read r(object, name, VT_I8);
    if (SUCCEEDED(r.hr())) value = reinterpret_cast<HWND>(static_cast<LONG_PTR>(r.value().llVal));
    return r.hr();
}

HRESULT ReadObject(IDispatch* object, const wchar_t* name, ComPtr<IDispatch>& value) {
    Read r(object, name, VT_EMPTY);
    if (FAILED(r.hr())) return r.hr();
    if (r.raw().vt == VT_EMPTY || r.raw().vt == VT_NULL) {
        value = nullptr;
        return S_OK;
    }
    if (r.raw().vt == VT_DISPATCH) {
        value = ComPtr<IDispatch>::Share(r.raw().pdispVal);
        return S_OK;
    }
    if (r.raw().vt == VT_UNKNOWN) {
        value = nullptr;
        if (!r.raw().punkVal) return S_OK;
        return r.raw().punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(value.put()));
    }
    return DISP_E_TYPEMISMATCH;
}

HRESULT ReadPicture(IDispatch* object, const wchar_t* name, ComPtr<IPictureDisp>& value) {
    ComPtr<IDispatch> any;
    HRESULT hr = ReadObject(object, name, any);
    if (FAILED(hr)) return hr;
    value = nullptr;
    if (!any) return S_OK;
    return any->QueryInterface(IID_IPictureDisp, reinterpret_cast<void**>(value.put()));
}

}  // namespace quillon::theme
