// The themed button painter, on real buttons painted into memory device
// contexts with the real theme; a few theme calls are recorded or replaced.
#include "ThemeTestSupport.h"

#include "common/Text.h"

namespace quillon::test {
namespace {

using theme::Api;

constexpr COLORREF kGround = RGB(0, 200, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kGreen = RGB(0, 160, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr int kWidth = 75, kHeight = 63;  // content (3, 3) to (72, 60) in the theme

// What the painter hands to the theme.
struct Recorded {
    static inline std::vector<int> states;
    static inline bool drawBackground = true;
    static inline int textCalls = 0;
    static inline RECT textRect{};
    static inline std::wstring text;
    static inline int textState = 0;
    static inline HFONT textFont = nullptr;
    static inline RECT content{};
    static inline HRESULT parentResult = S_OK;
    static inline RECT faceInset{};  // a face region this far inside, or none

    static inline decltype(&::DrawThemeBackground) realBackground = nullptr;
    static inline decltype(&::DrawThemeText) realText = nullptr;

    static HRESULT WINAPI Background(HTHEME theme, HDC dc, int part, int state, const RECT* rc, const RECT* clip) {
        states.push_back(state);
        return drawBackground ? realBackground(theme, dc, part, state, rc, clip) : S_OK;
    }
    static HRESULT WINAPI Text(HTHEME theme, HDC dc, int part, int state, LPCWSTR s, int n, DWORD flags, DWORD flags2,
                               const RECT* rc) {
        ++textCalls;
        textRect = *rc;
        text = s;
        textState = state;
        textFont = static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT));
        return realText(theme, dc, part, state, s, n, flags, flags2, rc);
    }
    static HRESULT WINAPI Content(HTHEME, HDC, int, int, const RECT*, RECT* out) {
        *out = content;
        return S_OK;
    }
    static HRESULT WINAPI Parent(HWND, HDC, RECT*) { return parentResult; }
    static HRESULT WINAPI Region(HTHEME, HDC, int, int, const RECT* rc, HRGN* region) {
        *region = CreateRectRgn(rc->left + faceInset.left, rc->top + faceInset.top, rc->right - faceInset.right,
                                rc->bottom - faceInset.bottom);
        return S_OK;
    }

    static void Install() {
        states.clear();
        drawBackground = true;
        textCalls = 0;
        text.clear();
        realBackground = Api().DrawThemeBackground.Bind();
        realText = Api().DrawThemeText.Bind();
        Api().DrawThemeBackground.Replace(&Background);
        Api().DrawThemeText.Replace(&Text);
    }
};

class ButtonPaintTest : public ThemeTest {
protected:
    void SetUp() override {
        ThemeTest::SetUp();
        Recorded::Install();
        form = controls::Form::Create(host.hwnd());
        form->font = controls::CreateOleFont(L"MS Sans Serif", 8, 400, 0);
        command1 = &Add(controls::ControlKind::CommandButton, L"Command1", host.AddButton(L"", BS_PUSHBUTTON, 10, 10, kWidth, kHeight));
        command2 = &Add(controls::ControlKind::CommandButton, L"Command2", host.AddButton(L"Other", BS_PUSHBUTTON, 100, 10, kWidth, kHeight));
        check1 = &Add(controls::ControlKind::CheckBox, L"Check1", host.AddButton(L"", BS_AUTO3STATE, 190, 10, kWidth, kHeight));
        text1 = &form->Add(controls::ControlKind::TextBox, L"Text1", host.AddEdit(10, 100, 100, 20));
        SetForegroundWindow(host.hwnd());
        SetActiveWindow(host.hwnd());
        HostWindow::Pump();
    }

    controls::Control& Add(controls::ControlKind kind, const wchar_t* name, HWND hwnd) {
        controls::Control& c = form->Add(kind, name, hwnd);
        c.style = 1;
        c.picture = controls::PictureFromBitmap(SolidBitmap(20, 20, kRed));
        c.downPicture = controls::PictureFromBitmap(SolidBitmap(12, 12, kGreen));
        c.useMaskColor = true;
        c.maskColor = kMagenta;
        return c;
    }

    void Focus(controls::Control* c) {
        SetFocus(c ? c->Handle() : nullptr);
        if (c) {
            ASSERT_EQ(GetFocus(), c->Handle());
        }
    }

    // Paints and gives the theme state the face was drawn in.
    int Paint(controls::Control& c, Canvas& canvas) {
        Recorded::states.clear();
        theme::pvDrawButton(c.Handle(), canvas.dc(), &c);
        return Recorded::states.empty() ? 0 : Recorded::states.back();
    }

    // Which picture shows, from where each one is centred in the content
    // (3, 3)-(72, 60): the 20-pixel "Picture" at (28, 22), the 12-pixel
    // "DownPicture" at (32, 26), the 8-pixel "DisabledPicture" at (34, 28).
    static std::string Shown(const Canvas& canvas) {
        const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
        const COLORREF ring = canvas.Pixel(30, 24), centre = canvas.Pixel(38, 31);
        if (centre == kGreen && ring != kRed) return "DownPicture";
        if (centre == kRed && ring == kRed) return "Picture";
        if (ring == shadow && centre == shadow) return "Picture embossed";
        if (ring != shadow && centre == shadow) return "DisabledPicture embossed";
        return "none";
    }

    // The bottom edge the caption measures to in the content (3, 3)-(72, 60),
    // in the form's font.
    int MeasuredBottom(const char* caption) const {
        HDC measure = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(measure, controls::FontHandle(form->font.get()));
        RECT r{3, 3, 72, 60};
        DrawTextA(measure, caption, -1, &r, DT_CALCRECT | DT_WORDBREAK);
        SelectObject(measure, old);
        DeleteDC(measure);
        return r.bottom;
    }

    HostWindow host;
    ComPtr<controls::Form> form;
    controls::Control* command1 = nullptr;
    controls::Control* command2 = nullptr;
    controls::Control* check1 = nullptr;
    controls::Control* text1 = nullptr;
};

TEST_F(ButtonPaintTest, DisabledButtonEmbossesItsDisabledPictureElseItsPicture) {
    Focus(text1);
    EnableWindow(command1->Handle(), FALSE);
    Canvas canvas(kWidth, kHeight, kGround);
    EXPECT_EQ(Paint(*command1, canvas), theme::kDisabled);
    EXPECT_EQ(Shown(canvas), "Picture embossed");

    command1->disabledPicture = controls::PictureFromBitmap(SolidBitmap(8, 8, kBlue));
    EXPECT_EQ(Paint(*command1, canvas), theme::kDisabled);
    EXPECT_EQ(Shown(canvas), "DisabledPicture embossed");
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, HotButtonShowsItsPictureAndPressedShowsTheDownPicture) {
    Focus(text1);
    Canvas canvas(kWidth, kHeight, kGround);
    theme::pvSetHot(command1->Handle(), true);
    EXPECT_EQ(Paint(*command1, canvas), theme::kHot);
    EXPECT_EQ(Shown(canvas), "Picture");

    SendMessageW(command1->Handle(), BM_SETSTATE, TRUE, 0);
    EXPECT_EQ(Paint(*command1, canvas), theme::kPressed) << "held down under the pointer";
    EXPECT_EQ(Shown(canvas), "DownPicture");

    theme::pvSetHot(command1->Handle(), false);
    command1->downPicture = EmptyPicture();
    EXPECT_EQ(Paint(*command1, canvas), theme::kPressed);
    EXPECT_EQ(Shown(canvas), "Picture") << "no down picture: the picture";
    SendMessageW(command1->Handle(), BM_SETSTATE, FALSE, 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, CheckedOrGrayedCheckBoxIsPressedAndHotWithTheDownPicture) {
    Focus(text1);
    Canvas canvas(kWidth, kHeight, kGround);
    for (WPARAM value : {BST_CHECKED, BST_INDETERMINATE}) {
        SendMessageW(check1->Handle(), BM_SETCHECK, value, 0);
        theme::pvSetHot(check1->Handle(), false);
        EXPECT_EQ(Paint(*check1, canvas), theme::kPressed) << value;
        EXPECT_EQ(Shown(canvas), "DownPicture") << value;
        theme::pvSetHot(check1->Handle(), true);
        EXPECT_EQ(Paint(*check1, canvas), theme::kHot) << value;
        EXPECT_EQ(Shown(canvas), "DownPicture") << value;
    }
    SendMessageW(check1->Handle(), BM_SETCHECK, BST_UNCHECKED, 0);
    EXPECT_EQ(Paint(*check1, canvas), theme::kHot);
    EXPECT_EQ(Shown(canvas), "Picture");
    theme::pvSetHot(check1->Handle(), false);
    EXPECT_EQ(Paint(*check1, canvas), theme::kNormal) << "a check box has no default look";
    EXPECT_EQ(Shown(canvas), "Picture");
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, FocusedButtonIsDefaultedWithAFocusRectangleOnTheContent) {
    command1->isDefault = true;
    Focus(text1);
    Canvas defaulted(kWidth, kHeight, kGround);
    EXPECT_EQ(Paint(*command1, defaulted), theme::kDefaulted) << "default button while a text box has the focus";
    EXPECT_EQ(Shown(defaulted), "Picture");

    Focus(command1);
    Canvas focused(kWidth, kHeight, kGround);
    EXPECT_EQ(Paint(*command1, focused), theme::kDefaulted);
    // The two differ only by the dotted rectangle on the content's edges.
    int differing = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            if (focused.Pixel(x, y) != defaulted.Pixel(x, y)) {
                ++differing;
                const bool onEdge = ((x == 3 || x == 71) && y >= 3 && y < 60) || ((y == 3 || y == 59) && x >= 3 && x < 72);
                EXPECT_TRUE(onEdge) << x << "," << y;
            }
    EXPECT_GT(differing, 20);

    Focus(check1);
    Canvas check(kWidth, kHeight, kGround);
    EXPECT_EQ(Paint(*check1, check), theme::kDefaulted) << "a focused check box";
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, DefaultButtonLosesItsLookWhileAnotherCommandButtonHasTheFocus) {
    command1->isDefault = true;
    Canvas canvas(kWidth, kHeight, kGround);
    Focus(command2);
    EXPECT_EQ(Paint(*command1, canvas), theme::kNormal);
    Focus(text1);
    EXPECT_EQ(Paint(*command1, canvas), theme::kDefaulted);
    Focus(nullptr);
    EXPECT_EQ(Paint(*command1, canvas), theme::kDefaulted) << "no active control";
    command1->isDefault = false;
    Focus(text1);
    EXPECT_EQ(Paint(*command1, canvas), theme::kNormal);
    EXPECT_EQ(Shown(canvas), "Picture");
    EXPECT_TRUE(reports.empty()) << "the default reads report nothing";
}

TEST_F(ButtonPaintTest, CaptionAbovePictureAndPictureCentredAboveIt) {
    // A caption H pixels high in the content (3, 3) to (72, 47 + H): the
    // measured bottom m is 3 + H, so the text runs from 45 to the content's
    // bottom, and a 32-pixel picture centred above it lands at (22, 8).
    const int h = MeasuredBottom("Refresh") - 3;
    ASSERT_GT(h, 8);

    Recorded::content = {3, 3, 72, 47 + h};
    Api().GetThemeBackgroundContentRect.Replace(&Recorded::Content);
    SetWindowTextW(command1->Handle(), L"Refresh");
    command1->picture = controls::PictureFromBitmap(SolidBitmap(32, 32, kRed));
    Focus(text1);
    Canvas canvas(kWidth, kHeight, kGround);
    Paint(*command1, canvas);
    ASSERT_EQ(Recorded::textCalls, 1);
    EXPECT_EQ(Recorded::text, L"Refresh");
    EXPECT_EQ(Recorded::textRect.left, 3);
    EXPECT_EQ(Recorded::textRect.right, 72);
    EXPECT_EQ(Recorded::textRect.top, 45);
    EXPECT_EQ(Recorded::textRect.bottom, 47 + h);
    EXPECT_EQ(Recorded::textFont, controls::FontHandle(form->font.get()));
    EXPECT_EQ(canvas.Pixel(22, 8), kRed);
    EXPECT_EQ(canvas.Pixel(53, 39), kRed);
    EXPECT_NE(canvas.Pixel(21, 8), kRed);
    EXPECT_NE(canvas.Pixel(22, 7), kRed);
    EXPECT_NE(canvas.Pixel(54, 39), kRed);
    EXPECT_NE(canvas.Pixel(53, 40), kRed);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, CaptionWithoutPictureTopRoundsAHalfToEven) {
    const int m = MeasuredBottom("Go");

    Api().GetThemeBackgroundContentRect.Replace(&Recorded::Content);
    SetWindowTextW(command1->Handle(), L"Go");
    command1->picture = nullptr;
    command1->downPicture = nullptr;
    Canvas canvas(kWidth, kHeight, kGround);
    // (bottom - m) / 2 + 2 is 4.5 and then 5.5: 4 and 6, the even ones.
    for (const auto& [extra, top] : {std::pair{5, 4}, {7, 6}, {6, 5}}) {
        Recorded::content = {3, 3, 72, m + extra};
        Paint(*command1, canvas);
        EXPECT_EQ(Recorded::textRect.top, top) << extra;
        EXPECT_EQ(Recorded::textRect.bottom, top + m) << extra;
    }
}

TEST_F(ButtonPaintTest, EmptyCaptionReadsNoFontAndDrawsNoText) {
    form->font = nullptr;  // reading a font would fail and be reported
    Focus(text1);
    Canvas canvas(kWidth, kHeight, kGround);
    Paint(*command1, canvas);
    EXPECT_EQ(Recorded::textCalls, 0);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(Shown(canvas), "Picture") << "centred in the whole content";

    SetWindowTextW(command1->Handle(), L"Go");
    Paint(*command1, canvas);
    EXPECT_EQ(ReportsFrom(L"pvDrawButton"), 1) << "the font that could not be had";
    EXPECT_EQ(Recorded::textCalls, 1) << "the caption is still drawn";
}

TEST_F(ButtonPaintTest, FailingParentBackgroundFillsOnlyTheCornersWithBackColor) {
    Recorded::drawBackground = false;  // keep the face as the fill left it
    Recorded::faceInset = {4, 4, 4, 4};
    Api().GetThemeBackgroundRegion.Replace(&Recorded::Region);
    Recorded::parentResult = E_FAIL;
    Api().DrawThemeParentBackground.Replace(&Recorded::Parent);
    Focus(text1);
    for (LONG backColor : {LONG{0x000080FF}, LONG(0x80000005)}) {
        command1->backColor = backColor;
        const COLORREF expected = theme::pvTranslateColor(static_cast<DWORD>(backColor));
        Canvas canvas(kWidth, kHeight, kGround);
        Paint(*command1, canvas);
        EXPECT_TRUE(canvas.AllOf({0, 0, kWidth, 4}, expected)) << std::hex << backColor;
        EXPECT_TRUE(canvas.AllOf({0, 0, 4, kHeight}, expected));
        EXPECT_TRUE(canvas.AllOf({0, kHeight - 4, kWidth, kHeight}, expected));
        EXPECT_EQ(canvas.Pixel(5, 5), kGround) << "the face is not filled";
        EXPECT_EQ(canvas.Pixel(kWidth - 5, kHeight - 5), kGround);
    }
    // A parent background that draws leaves the back colour out.
    Api().DrawThemeParentBackground.Unbind();
    Canvas canvas(kWidth, kHeight, kGround);
    Paint(*command1, canvas);
    EXPECT_NE(canvas.Pixel(0, 0), theme::pvTranslateColor(static_cast<DWORD>(command1->backColor)));
    EXPECT_NE(canvas.Pixel(0, 0), kGround) << "the parent's background was drawn";
    EXPECT_EQ(canvas.Pixel(5, 5), kGround);
}

// Top half red, bottom half blue, with a magenta square in the middle.
HBITMAP MarkedBitmap(int size) {
    HBITMAP bitmap = TwoToneBitmap(size, size, kRed, kMagenta, 6);
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH blue = CreateSolidBrush(kBlue);
    RECT lower{0, size - 4, size, size};
    FillRect(dc, &lower, blue);
    DeleteObject(blue);
    SelectObject(dc, old);
    DeleteDC(dc);
    return bitmap;
}

TEST_F(ButtonPaintTest, WithoutMaskColourThePictureIsRenderedOpaqueAndUpright) {
    command1->picture = controls::PictureFromBitmap(MarkedBitmap(20));
    Focus(text1);
    // The 20-pixel picture sits at (28, 22): its middle at (38, 32).
    Canvas masked(kWidth, kHeight, kGround);
    Paint(*command1, masked);
    EXPECT_NE(masked.Pixel(38, 32), kMagenta);
    EXPECT_EQ(masked.Pixel(29, 23), kRed);
    EXPECT_EQ(masked.Pixel(29, 40), kBlue);

    command1->useMaskColor = false;
    Canvas opaque(kWidth, kHeight, kGround);
    Paint(*command1, opaque);
    EXPECT_EQ(opaque.Pixel(38, 32), kMagenta) << "the mask colour is drawn";
    EXPECT_EQ(opaque.Pixel(29, 23), kRed) << "upright: red on top";
    EXPECT_EQ(opaque.Pixel(29, 40), kBlue);
    EXPECT_NE(opaque.Pixel(27, 23), kRed);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, EveryDrawingObjectIsReleasedAndTheContextKeepsItsFont) {
    SetWindowTextW(command1->Handle(), L"&Refresh");
    command1->isDefault = true;
    Focus(command1);
    Canvas canvas(kWidth, kHeight, kGround);
    Paint(*command1, canvas);  // lets the platform make what it keeps
    EnableWindow(command1->Handle(), FALSE);
    Paint(*command1, canvas);
    EnableWindow(command1->Handle(), TRUE);

    HGDIOBJ fontBefore = GetCurrentObject(canvas.dc(), OBJ_FONT);
    const unsigned before = CountGdiObjects();
    for (int i = 0; i < 3; ++i) {
        Paint(*command1, canvas);
        EnableWindow(command1->Handle(), FALSE);
        Paint(*command1, canvas);
        EnableWindow(command1->Handle(), TRUE);
    }
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_EQ(GetCurrentObject(canvas.dc(), OBJ_FONT), fontBefore);
    HRGN clip = CreateRectRgn(0, 0, 0, 0);
    EXPECT_EQ(GetClipRgn(canvas.dc(), clip), 0) << "no clip region left behind";
    DeleteObject(clip);
    EXPECT_GT(Recorded::textCalls, 0);
    EXPECT_TRUE(reports.empty());
}

TEST_F(ButtonPaintTest, MissingThemeLibraryIsReportedAndThePainterGoesOn) {
    Api().OpenThemeData.Remove();
    Api().DrawThemeBackground.Remove();
    Api().DrawThemeText.Remove();
    Focus(text1);
    SetWindowTextW(command1->Handle(), L"Go");
    Canvas canvas(kWidth, kHeight, kGround);
    theme::pvDrawButton(command1->Handle(), canvas.dc(), command1);  // the font makes its handle
    reports.clear();
    canvas.Fill(kGround);
    const unsigned before = CountGdiObjects();
    theme::pvDrawButton(command1->Handle(), canvas.dc(), command1);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_EQ(ReportsFrom(L"pvDrawButton"), 3);
    EXPECT_EQ(reports.size(), 3u);
    // The picture is still drawn, in what the unthemed content gives.
    bool anyRed = false;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) anyRed |= canvas.Pixel(x, y) == kRed;
    EXPECT_TRUE(anyRed);
}

}  // namespace
}  // namespace quillon::test
