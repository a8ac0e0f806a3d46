#pragma once
// The few OLE automation functions the program uses, bound by name from
// the system folder at their first call rather than imported: a silent run,
// which never shows a picture or reads a control's property, never loads
// oleaut32 and the libraries it brings.
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>

namespace quillon::ole {

HRESULT CreatePictureIndirect(PICTDESC* desc, REFIID iid, BOOL own, void** out);
HRESULT CreateFontIndirect(FONTDESC* desc, REFIID iid, void** out);
BSTR AllocStringLen(const OLECHAR* text, UINT length);
UINT StringLen(BSTR text);
HRESULT ChangeType(VARIANTARG* to, VARIANTARG* from, USHORT flags, VARTYPE type);
HRESULT Clear(VARIANTARG* v);
// Needs no library: an empty variant.
inline void Init(VARIANTARG* v) { v->vt = VT_EMPTY; }

}  // namespace quillon::ole
