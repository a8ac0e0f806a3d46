#include "ui/Picture.h"

namespace quillon::ui {
namespace {

ComPtr<IPictureDisp> FromDesc(PICTDESC& desc) {
    ComPtr<IPictureDisp> picture;
    if (FAILED(OleCreatePictureIndirect(&desc, IID_IPictureDisp, TRUE, reinterpret_cast<void**>(picture.put()))))
        return nullptr;
    return picture;
}

ComPtr<IPicture> AsPicture(IPictureDisp* disp) {
    ComPtr<IPicture> picture;
    if (disp) disp->QueryInterface(IID_IPicture, reinterpret_cast<void**>(picture.put()));
    return picture;
}

}  // namespace

ComPtr<IPictureDisp> PictureFromIcon(HICON icon) {
    if (!icon) return nullptr;
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_ICON;
    desc.icon.hicon = icon;
    return FromDesc(desc);
}

ComPtr<IPictureDisp> PictureFromBitmap(HBITMAP bitmap) {
    if (!bitmap) return nullptr;
    PICTDESC desc{};
    desc.cbSizeofstruct = sizeof desc;
    desc.picType = PICTYPE_BITMAP;
    desc.bmp.hbitmap = bitmap;
    return FromDesc(desc);
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

short PictureType(IPictureDisp* disp) {
    short type = PICTYPE_NONE;
    if (ComPtr<IPicture> p = AsPicture(disp)) p->get_Type(&type);
    return type;
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
    if (FAILED(OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(font.put())))) return nullptr;
    return font;
}

HFONT FontHandle(IFontDisp* disp) {
    HFONT h = nullptr;
    ComPtr<IFont> font;
    if (disp && SUCCEEDED(disp->QueryInterface(IID_IFont, reinterpret_cast<void**>(font.put())))) font->get_hFont(&h);
    return h;
}

}  // namespace quillon::ui
