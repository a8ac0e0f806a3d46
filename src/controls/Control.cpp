#include "controls/Control.h"

#include <oleauto.h>

namespace quillon::controls {
namespace {

bool IsButtonKind(ControlKind k) {
    return k == ControlKind::CommandButton || k == ControlKind::CheckBox || k == ControlKind::OptionButton;
}

}  // namespace

std::wstring WindowText(HWND hwnd) {
    const int n = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
    const int got = GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(static_cast<size_t>(got > 0 ? got : 0));
    return text;
}

Control::Control(Form& parent, ControlKind kind, std::wstring name, HWND hwnd)
    : parent_(&parent), kind_(kind), name_(std::move(name)), hwnd_(hwnd) {
    Define(L"Name", [this](VARIANT* v) { return SetText(v, name_); });
    Define(L"hWnd", [this](VARIANT* v) { return SetHandle(v, hwnd_); });
    Define(L"Parent", [this](VARIANT* v) -> HRESULT {
        if (!parent_) return DISP_E_MEMBERNOTFOUND;
        return SetObject(v, static_cast<IDispatch*>(parent_));
    });
    Define(L"Enabled", [this](VARIANT* v) { return SetBool(v, IsWindowEnabled(hwnd_) != FALSE); });

    if (kind_ == ControlKind::Picture) {
        Define(L"Picture", [this](VARIANT* v) { return SetObject(v, picture.get()); });
        return;
    }
    Define(L"BackColor", [this](VARIANT* v) { return SetI4(v, backColor); });
    Define(L"Font", [this](VARIANT* v) { return SetObject(v, parent_ ? parent_->font.get() : nullptr); });
    if (kind_ == ControlKind::TextBox) {
        Define(L"Text", [this](VARIANT* v) { return SetText(v, WindowText(hwnd_)); });
        return;
    }
    Define(L"Caption", [this](VARIANT* v) { return SetText(v, caption ? *caption : WindowText(hwnd_)); });
    if (!IsButtonKind(kind_)) return;

    Define(L"Style", [this](VARIANT* v) { return SetI2(v, style); });
    Define(L"Value", [this](VARIANT* v) {
        // A command button is "down" only while it is clicked; the boxes
        // report their check state 0, 1 or 2.
        if (kind_ == ControlKind::CommandButton) return SetBool(v, false);
        return SetI2(v, static_cast<short>(SendMessageW(hwnd_, BM_GETCHECK, 0, 0)));
    });
    if (kind_ == ControlKind::CommandButton)
        Define(L"Default", [this](VARIANT* v) { return SetBool(v, isDefault); });
    Define(L"Picture", [this](VARIANT* v) { return SetObject(v, picture.get()); });
    Define(L"DownPicture", [this](VARIANT* v) { return SetObject(v, downPicture.get()); });
    Define(L"DisabledPicture", [this](VARIANT* v) { return SetObject(v, disabledPicture.get()); });
    Define(L"UseMaskColor", [this](VARIANT* v) { return SetBool(v, useMaskColor); });
    Define(L"MaskColor", [this](VARIANT* v) { return SetI4(v, maskColor); });
}

ComPtr<Form> Form::Create(HWND hwnd) { return ComPtr<Form>::Attach(new Form(hwnd)); }

Form::Form(HWND hwnd) : hwnd_(hwnd) {
    Define(L"hWnd", [this](VARIANT* v) { return SetHandle(v, hwnd_); });
    Define(L"Caption", [this](VARIANT* v) { return SetText(v, WindowText(hwnd_)); });
    Define(L"Font", [this](VARIANT* v) { return SetObject(v, font.get()); });
    Define(L"ActiveControl", [this](VARIANT* v) -> HRESULT {
        Control* active = FromWindow(GetFocus());
        if (!active) return DISP_E_MEMBERNOTFOUND;
        return SetObject(v, static_cast<IDispatch*>(active));
    });
}

Form::~Form() {
    // A control may outlive its form (a subclass holds it): it forgets it.
    for (Control* c : order_) {
        c->parent_ = nullptr;
        c->Release();
    }
}

Control& Form::Add(ControlKind kind, const std::wstring& name, HWND hwnd) {
    Control* c = new Control(*this, kind, name, hwnd);
    order_.push_back(c);
    return *c;
}

Control* Form::Find(const std::wstring& name) const {
    for (Control* c : order_)
        if (c->Name() == name) return c;
    return nullptr;
}

Control* Form::FromWindow(HWND hwnd) const {
    // The focus may sit in a child of a control's window.
    for (; hwnd && hwnd != hwnd_; hwnd = GetParent(hwnd))
        for (Control* c : order_)
            if (c->Handle() == hwnd) return c;
    return nullptr;
}

}  // namespace quillon::controls
