#pragma once
// OLE picture and font objects, the forms that pictures and fonts take on
// controls.
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <string>

#include "common/ComPtr.h"

namespace quillon::controls {

// The picture owns the handle it is given; without a picture the handle
// is destroyed.
ComPtr<IPictureDisp> PictureFromIcon(HICON icon);
ComPtr<IPictureDisp> PictureFromBitmap(HBITMAP bitmap);
// An icon from the program's resources, at the given size.
ComPtr<IPictureDisp> PictureFromResource(int id, int size);

// The image handle of an OLE picture, 0 when there is none.
OLE_HANDLE PictureHandle(IPictureDisp* picture);

ComPtr<IFontDisp> CreateOleFont(const std::wstring& face, double points, short weight, short charset);
HFONT FontHandle(IFontDisp* font);

}  // namespace quillon::controls
