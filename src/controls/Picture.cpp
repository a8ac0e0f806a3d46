#include "controls/Picture.h"

#include "common/GdiHandles.h"
#include "common/OleAutomation.h"

namespace quillon::controls {
namespace {

ComPtr<IPictureDisp> FromDesc(PICTDESC& desc) {
    ComPtr<IPictureDisp> picture;
    if (FAILED(ole::CreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture.put()))))
        return nullptr;
    return picture;
}

ComPtr<IPicture> AsPicture(IPictureDisp* disp) {
    ComPtr<IPicture> picture;
    if (disp) disp->QueryInterface(IID_IPicture, reinterpret_cast<void**>(picture.put()));
    return picture;
}

PICTDESC Description(UINT type) {
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = type;
    return desc;
}

// The image is destroyed here unless a picture took it over.
template <class Unique>
ComPtr<IPictureDisp> Adopt(Unique image, PICTDESC& desc) {
    if (!image) return nullptr;
    ComPtr<IPictureDisp> picture = FromDesc(desc);
    if (picture) image.release();
    return picture;
}

}  // namespace

ComPtr<IPictureDisp> PictureFromIcon(HICON icon) {
    PICTDESC desc = Description(PICTYPE_ICON);
    desc.icon.hicon = icon;
    return Adopt(UniqueIcon(icon), desc);
}

ComPtr<IPictureDisp> PictureFromBitmap(HBITMAP bitmap) {
    PICTDESC desc = Description(PICTYPE_BITMAP);
    desc.bmp.hbitmap = bitmap;
    return Adopt(UniqueBitmap(bitmap), desc);
}

ComPtr<IPictureDisp> PictureFromResource(int id, int size) {
    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
    return PictureFromIcon(icon);
}

OLE_HANDLE PictureHandle(IPictureDisp* disp) {
    OLE_HANDLE h = 0;
    if (ComPtr<IPicture> p = AsPicture(disp)) p->get_Handle(&h);
    return h;
}

ComPtr<IFontDisp> CreateOleFont(const std::wstring& face, double points, short weight, short charset) {
    FONTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.lpstrName = const_cast<LPOLESTR>(face.c_str());
    desc.cySize.int64 = static_cast<LONGLONG>(points * 10000.0 + 0.5);
    desc.sWeight = weight;
    desc.sCharset = charset;
    desc.fItalic = FALSE;
    desc.fUnderline = FALSE;
    desc.fStrikethrough = FALSE;
    ComPtr<IFontDisp> font;
    if (FAILED(ole::CreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(font.put())))) return nullptr;
    return font;
}

HFONT FontHandle(IFontDisp* disp) {
    HFONT h = nullptr;
    ComPtr<IFont> font;
    if (disp && SUCCEEDED(disp->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.put())))) font->get_hFont(&h);
    return h;
}

}  // namespace quillon::controls
