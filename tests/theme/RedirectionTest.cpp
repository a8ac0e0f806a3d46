// Redirection of frames and graphical buttons, with real windows, real
// subclassing and real messages; version 6 is reported by a stand-in.
#include "ThemeTestSupport.h"

#include <algorithm>

namespace quillon::test {
namespace {

using theme::Api;

constexpr UINT kProbe = WM_APP + 7;
constexpr LRESULT kBelowResult = 0x5150;

// A subclass below the layer's: it sees what the layer passes on, and how
// the window is at that moment.
struct Below {
    static inline std::vector<UINT> seen;
    static inline bool visibleDuring = false;
    static inline bool painted = false;
    static inline bool propsAtNcDestroy = true;
    static inline WPARAM lastW = 0;
    static inline LPARAM lastL = 0;
    static inline bool themeOffDuringEnable = false;
    static inline BOOL appThemed = TRUE;

    static LRESULT CALLBACK Proc(HWND h, UINT m, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
        seen.push_back(m);
        switch (m) {
            case WM_ENABLE:
            case WM_SETFOCUS:
                visibleDuring = IsWindowVisible(h) != FALSE;
                if (themeOffDuringEnable) appThemed = FALSE;
                break;
            case WM_ERASEBKGND:
                painted = GetPropA(h, "Painted") != nullptr;
                break;
            case WM_NCDESTROY:
                propsAtNcDestroy = GetPropA(h, "Hot") || GetPropA(h, "Painted");
                break;
            case kProbe:
            case WM_PRINTCLIENT:
            case WM_MOUSELEAVE:
                lastW = w;
                lastL = l;
                return kBelowResult;
            default:
                break;
        }
        return Api().DefSubclassProc.Bind()(h, m, w, l);
    }
    static bool Saw(UINT m) { return std::find(seen.begin(), seen.end(), m) != seen.end(); }
    static void Attach(HWND h) { Api().SetWindowSubclass.Bind()(h, &Proc, 1, 0); }
    static BOOL WINAPI IsAppThemed() { return appThemed; }
};

// Counts theme questions and removals.
struct Calls {
    static inline int themed = 0;
    static inline std::vector<std::pair<HWND, SUBCLASSPROC>> removed;
    static inline decltype(&::RemoveWindowSubclass) realRemove = nullptr;
    static inline RECT inset{};
    static BOOL WINAPI CountedThemed() {
        ++themed;
        return Below::appThemed;
    }
    static BOOL WINAPI Remove(HWND h, SUBCLASSPROC p, UINT_PTR id) {
        removed.push_back({h, p});
        return realRemove(h, p, id);
    }
    static HRESULT WINAPI Region(HTHEME, HDC, int, int, const RECT* rc, HRGN* region) {
        *region = CreateRectRgn(rc->left + inset.left, rc->top + inset.top, rc->right - inset.right,
                                rc->bottom - inset.bottom);
        return S_OK;
    }
};

// A control object that records the names read from it. Its reference
// count governs its life, as a control object's does; it holds the control
// it reads through, and tells when it is gone.
class ReadRecorder final : public IDispatch {
public:
    static ComPtr<ReadRecorder> Make(IDispatch* inner, bool* gone = nullptr) {
        return ComPtr<ReadRecorder>::Attach(new ReadRecorder(inner, gone));
    }
    std::vector<std::wstring> names;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG n = --refs_;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override { return inner_->GetTypeInfoCount(n); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return inner_->GetTypeInfo(i, l, t); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* ids) override {
        for (UINT i = 0; i < c; ++i) names.emplace_back(n[i]);
        return inner_->GetIDsOfNames(r, n, c, l, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID r, LCID l, WORD f, DISPPARAMS* p, VARIANT* v, EXCEPINFO* e,
                                     UINT* a) override {
        return inner_->Invoke(id, r, l, f, p, v, e, a);
    }

private:
    ReadRecorder(IDispatch* inner, bool* gone) : inner_(ComPtr<IDispatch>::Share(inner)), gone_(gone) {
        if (gone_) *gone_ = false;
    }
    ~ReadRecorder() {
        if (gone_) *gone_ = true;
    }
    ComPtr<IDispatch> inner_;
    bool* gone_;
    LONG refs_ = 1;
};

class RedirectionTest : public ThemeTest {
protected:
    void SetUp() override {
        ThemeTest::SetUp();
        Below::seen.clear();
        Below::appThemed = TRUE;
        Below::themeOffDuringEnable = false;
        Below::propsAtNcDestroy = true;
        Calls::themed = 0;
        Calls::removed.clear();
        FakeVersion::Use(6);
        form = controls::Form::Create(host.hwnd());
        form->font = controls::CreateOleFont(L"MS Sans Serif", 8, 400, 0);
    }
    void TearDown() override {
        TRACKMOUSEEVENT cancel{sizeof cancel, TME_CANCEL | TME_HOVER | TME_LEAVE, nullptr, 0};
        for (controls::Control* c : form->Controls()) {
            cancel.hwndTrack = c->Handle();
            TrackMouseEvent(&cancel);
        }
        ThemeTest::TearDown();
    }

    controls::Control& Button(controls::ControlKind kind, short style, DWORD windowStyle = BS_PUSHBUTTON) {
        HWND h = host.AddButton(L"Go", windowStyle, 10, 10, 75, 63);
        Below::Attach(h);
        controls::Control& c = form->Add(kind, L"Button" + std::to_wstring(form->Controls().size()), h);
        c.style = style;
        c.picture = controls::PictureFromBitmap(SolidBitmap(16, 16, RGB(255, 0, 0)));
        return c;
    }

    // The client area due for repainting, or an empty one.
    static RECT Due(HWND h) {
        RECT r{};
        if (!GetUpdateRect(h, &r, FALSE)) return RECT{};
        return r;
    }
    static bool IsDue(HWND h) { return GetUpdateRect(h, nullptr, FALSE) != FALSE; }

    // The windows go before the form that their subclasses point at.
    ComPtr<controls::Form> form;
    HostWindow host;
};

bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }

TEST_F(RedirectionTest, WithoutVersionSixNothingIsRegisteredAndNothingRead) {
    FakeVersion::Use(5);
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    const ComPtr<ReadRecorder> recorder = ReadRecorder::Make(&button);
    EXPECT_FALSE(theme::FixThemeSupport(std::vector<theme::ThemeControl>{{button.Kind(), recorder.get()}}));
    EXPECT_TRUE(recorder->names.empty());
    EXPECT_FALSE(theme::FixThemeSupport(form->Controls()));
    SendMessageW(button.Handle(), WM_MOUSEHOVER, 0, 0);
    EXPECT_EQ(GetPropA(button.Handle(), "Hot"), nullptr) << "not redirected";
}

TEST_F(RedirectionTest, OnlyStyleAndWindowOfFramesAndButtonsAreRead) {
    controls::Control& graphical = Button(controls::ControlKind::CheckBox, 1, BS_AUTOCHECKBOX);
    controls::Control& standard = Button(controls::ControlKind::OptionButton, 0, BS_AUTORADIOBUTTON);
    controls::Control& frame = Button(controls::ControlKind::Frame, 0, BS_GROUPBOX);
    controls::Control& label = form->Add(controls::ControlKind::Label, L"Label1", host.AddButton(L"", BS_GROUPBOX, 0, 0, 5, 5));
    const ComPtr<ReadRecorder> g = ReadRecorder::Make(&graphical), s = ReadRecorder::Make(&standard),
                               f = ReadRecorder::Make(&frame), l = ReadRecorder::Make(&label);
    EXPECT_TRUE(theme::FixThemeSupport(std::vector<theme::ThemeControl>{
        {graphical.Kind(), g.get()}, {standard.Kind(), s.get()}, {frame.Kind(), f.get()}, {label.Kind(), l.get()}}));
    EXPECT_EQ(g->names, (std::vector<std::wstring>{L"Style", L"hWnd"}));
    EXPECT_EQ(s->names, (std::vector<std::wstring>{L"Style"}));
    EXPECT_EQ(f->names, (std::vector<std::wstring>{L"hWnd"}));
    EXPECT_TRUE(l->names.empty());
    EXPECT_TRUE(theme::FixThemeSupport(std::vector<theme::ThemeControl>{}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(RedirectionTest, GraphicalButtonsOfEveryKindAreRedirectedStandardOnesAreNot) {
    controls::Control& command = Button(controls::ControlKind::CommandButton, 1);
    controls::Control& check = Button(controls::ControlKind::CheckBox, 1, BS_AUTOCHECKBOX);
    controls::Control& option = Button(controls::ControlKind::OptionButton, 1, BS_AUTORADIOBUTTON);
    controls::Control& plainCommand = Button(controls::ControlKind::CommandButton, 0);
    controls::Control& plainCheck = Button(controls::ControlKind::CheckBox, 0, BS_AUTOCHECKBOX);
    EXPECT_TRUE(theme::FixThemeSupport(form->Controls()));
    for (controls::Control* c : {&command, &check, &option}) {
        SendMessageW(c->Handle(), WM_MOUSEHOVER, 0, 0);
        EXPECT_NE(GetPropA(c->Handle(), "Hot"), nullptr) << static_cast<int>(c->Kind());
    }
    for (controls::Control* c : {&plainCommand, &plainCheck}) {
        SendMessageW(c->Handle(), WM_MOUSEHOVER, 0, 0);
        EXPECT_EQ(GetPropA(c->Handle(), "Hot"), nullptr) << static_cast<int>(c->Kind());
    }
}

TEST_F(RedirectionTest, SecondWalkAddsNoSecondLayer) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    Api().IsAppThemed.Replace(&Calls::CountedThemed);
    theme::FixThemeSupport(form->Controls());
    SendMessageW(button.Handle(), WM_MOUSEHOVER, 0, 0);
    EXPECT_EQ(Calls::themed, 1);
    theme::FixThemeSupport(form->Controls());
    Calls::themed = 0;
    SendMessageW(button.Handle(), WM_MOUSEHOVER, 0, 0);
    EXPECT_EQ(Calls::themed, 1) << "one layer asks once";
}

TEST_F(RedirectionTest, TheRegistrationHoldsItsControlUntilTheWindowIsDestroyed) {
    // The control object and its form are let go before the window: the
    // button still paints through the control, and only the window's end
    // releases it. A second registration lets the first one's control go.
    ComPtr<controls::Form> own = controls::Form::Create(host.hwnd());
    own->font = controls::CreateOleFont(L"MS Sans Serif", 8, 400, 0);
    HWND h = host.AddButton(L"Go", BS_PUSHBUTTON, 10, 10, 75, 63);
    controls::Control& control = own->Add(controls::ControlKind::CommandButton, L"Alone", h);
    control.style = 1;
    control.picture = controls::PictureFromBitmap(SolidBitmap(16, 16, RGB(255, 0, 0)));
    bool replaced = false, gone = false;
    EXPECT_TRUE(theme::FixThemeSupport(
        std::vector<theme::ThemeControl>{{control.Kind(), ReadRecorder::Make(&control, &replaced).get()}}));
    EXPECT_TRUE(theme::FixThemeSupport(
        std::vector<theme::ThemeControl>{{control.Kind(), ReadRecorder::Make(&control, &gone).get()}}));
    EXPECT_TRUE(replaced) << "the replaced registration's control is let go";
    own = nullptr;
    EXPECT_FALSE(gone) << "the registration holds its control";
    InvalidateRect(h, nullptr, TRUE);
    EXPECT_EQ(SendMessageW(h, WM_PAINT, 0, 0), 0);
    EXPECT_NE(GetPropA(h, "Painted"), nullptr) << "painted through the control";
    DestroyWindow(h);
    EXPECT_TRUE(gone) << "released when the window went";
}

TEST_F(RedirectionTest, ThemedVisiblePaintIsTheLayersOwnAndMarksPaintedFirst) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    theme::FixThemeSupport(form->Controls());
    HostWindow::Pump();
    Below::seen.clear();
    InvalidateRect(button.Handle(), nullptr, TRUE);
    EXPECT_EQ(SendMessageW(button.Handle(), WM_PAINT, 0, 0), 0);
    EXPECT_FALSE(Below::Saw(WM_PAINT)) << "no default processing";
    EXPECT_TRUE(Below::Saw(WM_ERASEBKGND)) << "BeginPaint erased through the chain";
    EXPECT_TRUE(Below::painted) << "\"Painted\" was set before BeginPaint";
    EXPECT_NE(GetPropA(button.Handle(), "Painted"), nullptr);
    EXPECT_FALSE(IsDue(button.Handle()));
}

TEST_F(RedirectionTest, HiddenOrUnthemedPaintGoesToDefaultProcessing) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    theme::FixThemeSupport(form->Controls());
    ShowWindow(button.Handle(), SW_HIDE);
    Below::seen.clear();
    SendMessageW(button.Handle(), WM_PAINT, 0, 0);
    EXPECT_TRUE(Below::Saw(WM_PAINT));
    EXPECT_EQ(GetPropA(button.Handle(), "Painted"), nullptr);

    ShowWindow(button.Handle(), SW_SHOWNA);
    Api().IsAppThemed.Replace(&Below::IsAppThemed);
    Below::appThemed = FALSE;
    Below::seen.clear();
    SendMessageW(button.Handle(), WM_PAINT, 0, 0);
    EXPECT_TRUE(Below::Saw(WM_PAINT));
    EXPECT_EQ(GetPropA(button.Handle(), "Painted"), nullptr);
}

TEST_F(RedirectionTest, EnableAndFocusSwitchRedrawingOffOnlyDuringDefaultProcessing) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    Calls::inset = {5, 5, 5, 5};
    Api().GetThemeBackgroundRegion.Replace(&Calls::Region);
    theme::FixThemeSupport(form->Controls());
    HWND h = button.Handle();
    RECT client{};
    GetClientRect(h, &client);

    ValidateRect(h, nullptr);
    SendMessageW(h, WM_ENABLE, TRUE, 0);
    EXPECT_FALSE(Below::visibleDuring) << "redrawing was off";
    EXPECT_TRUE(IsWindowVisible(h)) << "and is on again";
    EXPECT_TRUE(Due(h) == client) << "the whole client area";

    ValidateRect(h, nullptr);
    SendMessageW(h, WM_SETFOCUS, 0, 0);
    EXPECT_FALSE(Below::visibleDuring);
    EXPECT_TRUE(IsWindowVisible(h));
    const RECT shape{5, 5, client.right - 5, client.bottom - 5};
    EXPECT_TRUE(Due(h) == shape) << "only the themed shape";

    Api().IsAppThemed.Replace(&Below::IsAppThemed);
    Below::appThemed = FALSE;
    ValidateRect(h, nullptr);
    SendMessageW(h, WM_ENABLE, TRUE, 0);
    EXPECT_TRUE(Below::visibleDuring) << "unthemed: no switching";
}

TEST_F(RedirectionTest, RedrawingComesBackWhenTheThemeGoesAwayDuringDefaultProcessing) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    Api().IsAppThemed.Replace(&Below::IsAppThemed);
    theme::FixThemeSupport(form->Controls());
    Below::themeOffDuringEnable = true;
    SendMessageW(button.Handle(), WM_ENABLE, TRUE, 0);
    EXPECT_FALSE(Below::visibleDuring);
    EXPECT_TRUE(IsWindowVisible(button.Handle())) << "the button can still be drawn";
}

TEST_F(RedirectionTest, HotFollowsHoverPressLeaveAndLossOfFocus) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    theme::FixThemeSupport(form->Controls());
    HWND h = button.Handle();
    auto hot = [h] { return reinterpret_cast<INT_PTR>(GetPropA(h, "Hot")); };
    EXPECT_EQ(hot(), 0);
    SendMessageW(h, WM_MOUSEHOVER, 0, 0);
    EXPECT_EQ(hot(), 1);
    SendMessageW(h, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(hot(), 0);
    EXPECT_NE(GetPropA(h, "Hot"), reinterpret_cast<HANDLE>(1));
    SendMessageW(h, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(hot(), 1);
    SendMessageW(h, WM_LBUTTONUP, 0, MAKELPARAM(500, 500));  // released off the button: no click
    SendMessageW(h, WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(hot(), 0);

    Api().IsAppThemed.Replace(&Below::IsAppThemed);
    Below::appThemed = FALSE;
    SendMessageW(h, WM_MOUSEHOVER, 0, 0);
    EXPECT_EQ(hot(), 0) << "unthemed: no hot tracking";
}

TEST_F(RedirectionTest, MouseMovesAskForTrackingOnlyWhileNotHotAndRepaintUntilPainted) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    theme::FixThemeSupport(form->Controls());
    HWND h = button.Handle();
    POINT centre{37, 31};
    ClientToScreen(h, &centre);
    SetCursorPos(centre.x, centre.y);
    ASSERT_EQ(WindowFromPoint(centre), h);
    auto tracked = [h] {
        TRACKMOUSEEVENT q{sizeof q, TME_QUERY, nullptr, 0};
        TrackMouseEvent(&q);
        return q.hwndTrack == h && (q.dwFlags & (TME_HOVER | TME_LEAVE)) == (TME_HOVER | TME_LEAVE);
    };
    auto cancel = [h] {
        TRACKMOUSEEVENT c{sizeof c, TME_CANCEL | TME_HOVER | TME_LEAVE, h, 0};
        TrackMouseEvent(&c);
    };

    cancel();
    ValidateRect(h, nullptr);
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(37, 31));
    EXPECT_TRUE(tracked());
    EXPECT_TRUE(IsDue(h)) << "not yet painted by the layer";

    cancel();
    theme::pvSetHot(h, true);
    theme::pvSetPainted(h, true);
    ValidateRect(h, nullptr);
    SendMessageW(h, WM_MOUSEMOVE, 0, MAKELPARAM(37, 31));
    EXPECT_FALSE(tracked()) << "hot: no tracking request";
    EXPECT_FALSE(IsDue(h)) << "painted: no repaint";
    cancel();
}

TEST_F(RedirectionTest, RightButtonUpRepaintsAndRightButtonDownDoesNot) {
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    theme::FixThemeSupport(form->Controls());
    HWND h = button.Handle();
    ValidateRect(h, nullptr);
    SendMessageW(h, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(5, 5));
    EXPECT_FALSE(IsDue(h));
    SendMessageW(h, WM_RBUTTONUP, 0, MAKELPARAM(5, 5));
    EXPECT_TRUE(IsDue(h));
}

TEST_F(RedirectionTest, FramesSendMouseLeaveAndPrintClientPastTheirChain) {
    controls::Control& frame = Button(controls::ControlKind::Frame, 0, BS_GROUPBOX);
    theme::FixThemeSupport(form->Controls());
    HWND h = frame.Handle();
    Below::seen.clear();
    EXPECT_EQ(SendMessageW(h, kProbe, 12, 34), kBelowResult);
    EXPECT_EQ(Below::lastW, 12u);
    EXPECT_EQ(Below::lastL, 34);
    Canvas canvas(10, 10, RGB(1, 2, 3));
    EXPECT_EQ(SendMessageW(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT),
              DefWindowProcA(h, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(canvas.dc()), PRF_CLIENT));
    EXPECT_EQ(SendMessageW(h, WM_MOUSELEAVE, 0, 0), DefWindowProcA(h, WM_MOUSELEAVE, 0, 0));
    EXPECT_FALSE(Below::Saw(WM_PRINTCLIENT));
    EXPECT_FALSE(Below::Saw(WM_MOUSELEAVE));
    EXPECT_TRUE(Below::Saw(kProbe));
}

TEST_F(RedirectionTest, DestroyedWindowsLoseTheirSubclassAndProperties) {
    Calls::realRemove = Api().RemoveWindowSubclass.Bind();
    Api().RemoveWindowSubclass.Replace(&Calls::Remove);
    controls::Control& button = Button(controls::ControlKind::CommandButton, 1);
    controls::Control& frame = Button(controls::ControlKind::Frame, 0, BS_GROUPBOX);
    theme::FixThemeSupport(form->Controls());
    HWND b = button.Handle(), f = frame.Handle();
    SendMessageW(b, WM_MOUSEHOVER, 0, 0);
    theme::pvSetPainted(b, true);
    DestroyWindow(b);
    EXPECT_FALSE(Below::propsAtNcDestroy) << "\"Hot\" and \"Painted\" are gone";
    DestroyWindow(f);
    ASSERT_EQ(Calls::removed.size(), 2u);
    EXPECT_EQ(Calls::removed[0], std::make_pair(b, SUBCLASSPROC{&theme::pvRedirectButton}));
    EXPECT_EQ(Calls::removed[1], std::make_pair(f, SUBCLASSPROC{&theme::pvRedirectFrame}));
    EXPECT_TRUE(reports.empty());
}

TEST_F(RedirectionTest, MissingSubclassEntryIsReportedPerControlAndTheWalkGoesOn) {
    Button(controls::ControlKind::CommandButton, 1);
    Button(controls::ControlKind::Frame, 0, BS_GROUPBOX);
    Api().SetWindowSubclass.Remove();
    EXPECT_TRUE(theme::FixThemeSupport(form->Controls()));
    EXPECT_EQ(ReportsFrom(L"FixThemeSupport"), 2);
}

}  // namespace
}  // namespace quillon::test
