#pragma once
// Automation objects whose properties are read by name (IDispatch), the
// form that controls, pictures and fonts are read through.
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <string>
#include <vector>

namespace quillon::controls {

class DispatchObject : public IDispatch {
public:
    // Fills the result of a property read; a failure is the read's failure.
    using Getter = std::function<HRESULT(VARIANT* result)>;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

protected:
    DispatchObject() = default;
    virtual ~DispatchObject() = default;
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    void Define(const std::wstring& name, Getter getter);

private:
    struct Property {
        std::wstring name;
        Getter get;
    };
    std::vector<Property> properties_;
    LONG refs_ = 1;
};

// Reads a property by name through IDispatch. The result is cleared first.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, VARIANT* result);

// VARIANT builders for property getters.
HRESULT SetBool(VARIANT* v, bool value);
HRESULT SetI2(VARIANT* v, short value);
HRESULT SetI4(VARIANT* v, LONG value);
HRESULT SetHandle(VARIANT* v, const void* handle);  // VT_I8 on 64-bit, VT_I4 on 32-bit
HRESULT SetText(VARIANT* v, const std::wstring& text);
HRESULT SetObject(VARIANT* v, IUnknown* object);  // VT_DISPATCH; null gives an empty reference

}  // namespace quillon::controls
