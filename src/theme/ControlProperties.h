#pragma once
// Typed reads of a control's properties by name, each giving the read's
// failure so the caller can report it.
#include <windows.h>
#include <ocidl.h>

#include <string>

#include "common/ComPtr.h"

namespace quillon::theme {

// Any non-zero value is true; a null value is false.
HRESULT ReadTruth(IDispatch* object, const wchar_t* name, bool& value);
HRESULT ReadInt32(IDispatch* object, const wchar_t* name, LONG& value);
HRESULT ReadText(IDispatch* object, const wchar_t* name, std::wstring& value);
HRESULT ReadWindow(IDispatch* object, const wchar_t* name, HWND& value);
// An object property; an empty reference is a successful read.
HRESULT ReadObject(IDispatch* object, const wchar_t* name, ComPtr<IDispatch>& value);
HRESULT ReadPicture(IDispatch* object, const wchar_t* name, ComPtr<IPictureDisp>& value);

}  // namespace quillon::theme
