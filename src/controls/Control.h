#pragma once
// The control layer: a form's controls as automation objects whose
// properties can be read by name, in the form the visual-style layer reads
// them.
#include <windows.h>
#include <ocidl.h>

#include <optional>
#include <string>
#include <vector>

#include "common/ComPtr.h"
#include "controls/Dispatch.h"

namespace quillon::controls {

// The whole text of a window.
std::wstring WindowText(HWND hwnd);

enum class ControlKind { Label, TextBox, CheckBox, CommandButton, OptionButton, Frame, Picture };

class Form;

// One control of a form; its reference count governs its life, and it may
// outlive its form, whose properties it then no longer reads ("Parent"
// fails, "Font" is empty). Properties by kind:
//   every control       "Name", "hWnd", "Parent", "Enabled"
//   label, frame        "Caption", "BackColor", "Font"
//   text box            "Text", "BackColor", "Font"
//   command button      "Caption", "Value", "Default", "Style", "Picture", "DownPicture",
//                       "DisabledPicture", "BackColor", "Font", "UseMaskColor", "MaskColor"
//   check/option button as the command button, without "Default"
//   picture             "Picture"
// Reading any other name fails with DISP_E_UNKNOWNNAME.
class Control final : public DispatchObject {
public:
    // Made by Form::Add.
    Control(Form& parent, ControlKind kind, std::wstring name, HWND hwnd);

    ControlKind Kind() const { return kind_; }
    const std::wstring& Name() const { return name_; }
    HWND Handle() const { return hwnd_; }

    // Design-time properties; the live ones (Value, Enabled, Caption, Text)
    // are read from the window.
    short style = 0;  // 1: graphical
    bool isDefault = false;
    LONG backColor = static_cast<LONG>(0x8000000F);  // button face
    bool useMaskColor = false;
    LONG maskColor = 0x00C0C0C0;
    ComPtr<IPictureDisp> picture, downPicture, disabledPicture;
    // A caption other than the window's text, which then only names the
    // control to screen readers (a picture button's "Refresh").
    std::optional<std::wstring> caption;

private:
    friend class Form;
    Form* parent_;  // null once the form is gone
    ControlKind kind_;
    std::wstring name_;
    HWND hwnd_;
};

// A form: its window, its font and its collection of controls, in order.
// "ActiveControl" reads the control that has the focus, and fails when
// none of the form's controls has it.
class Form final : public DispatchObject {
public:
    static ComPtr<Form> Create(HWND hwnd);

    Control& Add(ControlKind kind, const std::wstring& name, HWND hwnd);
    const std::vector<Control*>& Controls() const { return order_; }
    Control* Find(const std::wstring& name) const;
    Control* FromWindow(HWND hwnd) const;
    HWND Handle() const { return hwnd_; }

    ComPtr<IFontDisp> font;

private:
    explicit Form(HWND hwnd);
    ~Form() override;

    HWND hwnd_;
    std::vector<Control*> order_;  // each holds one reference
};

}  // namespace quillon::controls
