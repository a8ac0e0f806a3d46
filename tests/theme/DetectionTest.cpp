// Which common controls are in use, whether visual styles apply, and the
// one-time start-up.
#include "ThemeTestSupport.h"

namespace quillon::test {
namespace {

using theme::Api;

class DetectionTest : public ThemeTest {};

TEST_F(DetectionTest, VersionSixAndLaterCountAsLoadedFiveDoesNot) {
    for (const auto& [major, loaded] : {std::pair{5u, false}, {6u, true}, {7u, true}}) {
        FakeVersion::Use(major);
        EXPECT_EQ(theme::IsComCtl6Loaded(), loaded) << "major " << major;
    }
    EXPECT_EQ(FakeVersion::calls, 3) << "each call asks the library again";
    EXPECT_TRUE(reports.empty());
}

TEST_F(DetectionTest, RealCommonControlsUnderWineAreOlderThanSix) {
    EXPECT_FALSE(theme::IsComCtl6Loaded());
    EXPECT_TRUE(reports.empty());
}

TEST_F(DetectionTest, MissingVersionExportIsNotLoadedWithOneReport) {
    Api().DllGetVersion.Remove();
    EXPECT_FALSE(theme::IsComCtl6Loaded());
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], L"IsComCtl6Loaded");
}

TEST_F(DetectionTest, MissingLibraryIsAFailureOfTheCallNotOfTheProgram) {
    theme::EntryPoint<decltype(&::IsAppThemed)> absent(L"quillon-no-such-library.dll", "IsAppThemed");
    HRESULT failure = S_OK;
    EXPECT_EQ(absent.Bind(&failure), nullptr);
    EXPECT_TRUE(FAILED(failure));
    theme::EntryPoint<decltype(&::IsAppThemed)> noExport(L"uxtheme.dll", "QuillonNoSuchExport");
    EXPECT_EQ(noExport.Bind(&failure), nullptr);
    EXPECT_EQ(failure, HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
    theme::EntryPoint<decltype(&::IsAppThemed)> real(L"uxtheme.dll", "IsAppThemed");
    ASSERT_NE(real.Bind(), nullptr);
    EXPECT_TRUE(real.Bind()());
}

// Counts of the start-up's platform calls.
struct StartupCalls {
    static inline int init = 0;
    static inline DWORD classes = 0;
    static inline DWORD size = 0;
    static BOOL WINAPI Init(const INITCOMMONCONTROLSEX* icc) {
        ++init;
        size = icc->dwSize;
        classes = icc->dwICC;
        return TRUE;
    }
};

class StartupTest : public ThemeTest {
protected:
    void SetUp() override {
        ThemeTest::SetUp();
        theme::ThemeSupportStarted() = false;
        StartupCalls::init = 0;
        StartupCalls::classes = 0;
        Api().InitCommonControlsEx.Replace(&StartupCalls::Init);
    }
    void TearDown() override {
        theme::ThemeSupportStarted() = false;
        ThemeTest::TearDown();
    }
};

TEST_F(StartupTest, VersionSixStartsTheExtendedComboClassesOnceAndKeepsShell32) {
    FakeVersion::Use(6);
    theme::InitThemeSupport();
    EXPECT_EQ(StartupCalls::init, 1);
    EXPECT_EQ(StartupCalls::size, 8u);
    EXPECT_EQ(StartupCalls::classes, static_cast<DWORD>(ICC_USEREX_CLASSES));
    EXPECT_NE(GetModuleHandleW(L"shell32.dll"), nullptr);
    EXPECT_TRUE(theme::ThemeSupportStarted());

    theme::InitThemeSupport();
    EXPECT_EQ(FakeVersion::calls, 1) << "a second start-up asks nothing";
    EXPECT_EQ(StartupCalls::init, 1);
}

TEST_F(StartupTest, OlderVersionSkipsTheStartUpButStillRunsOnlyOnce) {
    FakeVersion::Use(5);
    theme::InitThemeSupport();
    EXPECT_EQ(StartupCalls::init, 0);
    EXPECT_TRUE(theme::ThemeSupportStarted());
    FakeVersion::Use(6);
    theme::InitThemeSupport();
    EXPECT_EQ(FakeVersion::calls, 1);
    EXPECT_EQ(StartupCalls::init, 0);
}

TEST_F(StartupTest, MissingStartUpExportLeavesTheFlagClearAndReportsNothing) {
    FakeVersion::Use(6);
    Api().InitCommonControlsEx.Remove();
    theme::InitThemeSupport();
    EXPECT_FALSE(theme::ThemeSupportStarted());
    EXPECT_TRUE(reports.empty());
}

// Theme answers chosen per test, with the order of the questions.
struct ThemeAnswers {
    static inline BOOL appThemed = TRUE, active = TRUE;
    static inline DWORD properties = 3;
    static inline std::string asked;
    static BOOL WINAPI AppThemed() {
        asked += 'A';
        return appThemed;
    }
    static BOOL WINAPI Active() {
        asked += 'T';
        return active;
    }
    static DWORD WINAPI Properties() {
        asked += 'P';
        return properties;
    }
    static void Use(BOOL a, BOOL t, DWORD p) {
        appThemed = a;
        active = t;
        properties = p;
        asked.clear();
        Api().IsAppThemed.Replace(&AppThemed);
        Api().IsThemeActive.Replace(&Active);
        Api().GetThemeAppProperties.Replace(&Properties);
    }
};

TEST_F(DetectionTest, ThemedWhenAllThreeQuestionsPassUnderRealWine) {
    EXPECT_TRUE(theme::pvIsThemed());
    ThemeAnswers::Use(TRUE, TRUE, STAP_ALLOW_CONTROLS);
    EXPECT_TRUE(theme::pvIsThemed());
    EXPECT_EQ(ThemeAnswers::asked, "ATP");
}

TEST_F(DetectionTest, EachQuestionIsAskedOnlyWhenTheEarlierOnePassed) {
    ThemeAnswers::Use(FALSE, TRUE, 3);
    EXPECT_FALSE(theme::pvIsThemed());
    EXPECT_EQ(ThemeAnswers::asked, "A");

    ThemeAnswers::Use(TRUE, FALSE, 3);
    EXPECT_FALSE(theme::pvIsThemed());
    EXPECT_EQ(ThemeAnswers::asked, "AT");

    ThemeAnswers::Use(TRUE, TRUE, STAP_ALLOW_NONCLIENT | STAP_ALLOW_WEBCONTENT);
    EXPECT_FALSE(theme::pvIsThemed()) << "no STAP_ALLOW_CONTROLS";
    EXPECT_EQ(ThemeAnswers::asked, "ATP");
    EXPECT_TRUE(reports.empty());
}

TEST_F(DetectionTest, MissingThemeLibraryMeansUnthemedWithoutReport) {
    Api().IsAppThemed.Remove();
    EXPECT_FALSE(theme::pvIsThemed());
    Api().UnbindAll();
    ThemeAnswers::Use(TRUE, TRUE, 3);
    Api().GetThemeAppProperties.Remove();
    EXPECT_FALSE(theme::pvIsThemed());
    EXPECT_TRUE(reports.empty());
}

TEST(ErrorSink, ReportsReachTheObserverWithTheirFailure) {
    std::wstring routine;
    HRESULT seen = S_OK;
    theme::SetErrorObserver([&](const std::wstring& r, HRESULT hr) {
        routine = r;
        seen = hr;
    });
    theme::pvReportError(L"pvDrawRect", theme::kOverflow);
    theme::SetErrorObserver({});
    EXPECT_EQ(routine, L"pvDrawRect");
    EXPECT_EQ(seen, theme::kOverflow);
}

TEST(Arithmetic, HalvesRoundToTheEvenNeighbour) {
    int r = 0;
    const std::pair<double, int> cases[] = {{21.5, 22}, {20.5, 20}, {4.5, 4}, {-0.5, 0}, {-1.5, -2},
                                            {2.4, 2},   {2.6, 3},   {0, 0},    {-2.6, -3}};
    for (const auto& [value, expected] : cases) {
        ASSERT_EQ(theme::RoundHalfEven(value, r), S_OK) << value;
        EXPECT_EQ(r, expected) << value;
    }
    EXPECT_EQ(theme::RoundHalfEven(3e9, r), theme::kOverflow);
    EXPECT_EQ(theme::RoundHalfEven(std::numeric_limits<double>::quiet_NaN(), r), theme::kOverflow);
}

TEST(Arithmetic, SumsAndDifferencesOutside32BitsFail) {
    int r = 7;
    EXPECT_EQ(theme::CheckedAdd(INT_MAX, 1, r), theme::kOverflow);
    EXPECT_EQ(r, 7);
    EXPECT_EQ(theme::CheckedSub(INT_MIN, 1, r), theme::kOverflow);
    EXPECT_EQ(theme::CheckedSub(0, INT_MIN, r), theme::kOverflow);
    EXPECT_EQ(theme::CheckedAdd(INT_MAX - 1, 1, r), S_OK);
    EXPECT_EQ(r, INT_MAX);
    EXPECT_EQ(theme::CheckedSub(-5, 10, r), S_OK);
    EXPECT_EQ(r, -15);
}

}  // namespace
}  // namespace quillon::test
