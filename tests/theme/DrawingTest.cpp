// The drawing toolkit, checked pixel by pixel in memory device contexts.
#include "ThemeTestSupport.h"

namespace quillon::test {
namespace {

constexpr COLORREF kGround = RGB(0, 200, 0);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);
constexpr COLORREF kMagenta = RGB(255, 0, 255);

class DrawingTest : public ThemeTest {};

TEST_F(DrawingTest, RectangleFillsExactlyItsArea) {
    Canvas canvas(20, 20, kGround);
    const unsigned before = CountGdiObjects();
    theme::pvDrawRect(canvas.dc(), 2, 3, 5, 4, kRed);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_TRUE(canvas.AllOf({2, 3, 7, 7}, kRed));
    EXPECT_EQ(canvas.Pixel(7, 3), kGround);
    EXPECT_EQ(canvas.Pixel(2, 7), kGround);
    EXPECT_EQ(canvas.Pixel(1, 2), kGround);
    EXPECT_TRUE(reports.empty());
}

TEST_F(DrawingTest, RectangleOfZeroWidthOrHeightFillsNothing) {
    Canvas canvas(20, 20, kGround);
    theme::pvDrawRect(canvas.dc(), 2, 2, 0, 10, kRed);
    theme::pvDrawRect(canvas.dc(), 2, 2, 10, 0, kRed);
    EXPECT_TRUE(canvas.AllOf({0, 0, 20, 20}, kGround));
}

TEST_F(DrawingTest, RectangleEdgeThatOverflowsIsReportedAndStaysZero) {
    Canvas canvas(20, 20, kGround);
    // The right edge stays 0; the other edges still hold, so nothing is
    // filled right of the left edge or outside rows 2 to 6.
    theme::pvDrawRect(canvas.dc(), 4, 2, INT_MAX, 5, kRed);
    EXPECT_EQ(ReportsFrom(L"pvDrawRect"), 1);
    EXPECT_TRUE(canvas.AllOf({5, 0, 20, 20}, kGround));
    EXPECT_TRUE(canvas.AllOf({0, 0, 20, 2}, kGround));
    EXPECT_TRUE(canvas.AllOf({0, 7, 20, 20}, kGround));
    // Likewise the bottom edge.
    canvas.Fill(kGround);
    theme::pvDrawRect(canvas.dc(), 2, 6, 5, INT_MAX, kRed);
    EXPECT_EQ(ReportsFrom(L"pvDrawRect"), 2);
    EXPECT_TRUE(canvas.AllOf({0, 7, 20, 20}, kGround));
    EXPECT_TRUE(canvas.AllOf({7, 0, 20, 20}, kGround));
}

TEST_F(DrawingTest, BitmapPixelsOfTheTransparentColourLeaveTheTargetUntouched) {
    auto picture = controls::PictureFromBitmap(TwoToneBitmap(16, 16, kRed, kMagenta, 8));
    Canvas canvas(30, 30, kGround);
    const unsigned before = CountGdiObjects();
    theme::pvDrawTransparentPicture(picture.get(), canvas.dc(), 5, 5, 16, 16, kMagenta, 0, 0, 0, 0);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_EQ(canvas.Pixel(5, 5), kRed);
    EXPECT_EQ(canvas.Pixel(20, 20), kRed);
    EXPECT_TRUE(canvas.AllOf({9, 9, 17, 17}, kGround)) << "the magenta square is not copied";
    EXPECT_EQ(canvas.Pixel(21, 21), kGround);
    EXPECT_EQ(canvas.Pixel(4, 4), kGround);
    EXPECT_TRUE(reports.empty());
}

TEST_F(DrawingTest, IconTransparentPixelsLeaveTheTargetUntouched) {
    auto picture = controls::PictureFromIcon(HalfTransparentIcon(32, kBlue));
    Canvas canvas(40, 40, kGround);
    const unsigned before = CountGdiObjects();
    theme::pvDrawTransparentPicture(picture.get(), canvas.dc(), 4, 4, 32, 32, kMagenta, 0, 0, 0, 0);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_TRUE(canvas.AllOf({4, 4, 20, 36}, kGround)) << "the icon's transparent half";
    EXPECT_TRUE(canvas.AllOf({20, 4, 36, 36}, kBlue));
    EXPECT_EQ(canvas.Pixel(36, 20), kGround);
}

TEST_F(DrawingTest, SourceSizeZeroCopiesUnscaledAndAnotherSizeStretches) {
    auto picture = controls::PictureFromBitmap(SolidBitmap(8, 8, kRed));
    Canvas unscaled(40, 40, kGround);
    theme::pvDrawTransparentPicture(picture.get(), unscaled.dc(), 0, 0, 32, 32, kMagenta, 0, 0, 0, 0);
    EXPECT_TRUE(unscaled.AllOf({0, 0, 8, 8}, kRed));
    EXPECT_NE(unscaled.Pixel(20, 20), kRed) << "an 8 by 8 bitmap copied unscaled";

    Canvas stretched(40, 40, kGround);
    theme::pvDrawTransparentPicture(picture.get(), stretched.dc(), 0, 0, 32, 32, kMagenta, 0, 0, 8, 8);
    EXPECT_TRUE(stretched.AllOf({0, 0, 32, 32}, kRed));
    EXPECT_EQ(stretched.Pixel(33, 33), kGround);
}

TEST_F(DrawingTest, EmptyPictureOrPictureWithoutImageDrawsAndCreatesNothing) {
    Canvas canvas(20, 20, kGround);
    auto empty = EmptyPicture();
    ASSERT_TRUE(empty);
    const unsigned before = CountGdiObjects();
    theme::pvDrawTransparentPicture(nullptr, canvas.dc(), 0, 0, 20, 20, kMagenta, 0, 0, 0, 0);
    theme::pvDrawTransparentPicture(empty.get(), canvas.dc(), 0, 0, 20, 20, kMagenta, 0, 0, 0, 0);
    theme::pvDrawDisabledPicture(nullptr, canvas.dc(), 0, 0, 20, 20, kMagenta);
    theme::pvDrawDisabledPicture(empty.get(), canvas.dc(), 0, 0, 20, 20, kMagenta);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_TRUE(canvas.AllOf({0, 0, 20, 20}, kGround));
    EXPECT_TRUE(reports.empty());
}

TEST_F(DrawingTest, DisabledLookIsEmbossedAndDiffersFromTheNormalOne) {
    auto picture = controls::PictureFromBitmap(TwoToneBitmap(16, 16, kRed, kMagenta, 8));
    Canvas normal(30, 30, kGround), disabled(30, 30, kGround);
    theme::pvDrawTransparentPicture(picture.get(), normal.dc(), 5, 5, 16, 16, kMagenta, 0, 0, 0, 0);
    {
        // The platform makes and keeps its system-colour brushes at the first
        // disabled drawing; only what comes after is ours to count.
        Canvas warmUp(30, 30, kGround);
        theme::pvDrawDisabledPicture(picture.get(), warmUp.dc(), 5, 5, 16, 16, kMagenta);
    }
    const unsigned before = CountGdiObjects();
    theme::pvDrawDisabledPicture(picture.get(), disabled.dc(), 5, 5, 16, 16, kMagenta);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_TRUE(disabled.AnyDifference(normal));
    bool anyRed = false, anyShadow = false;
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x) {
            anyRed |= disabled.Pixel(x, y) == kRed;
            anyShadow |= disabled.Pixel(x, y) == GetSysColor(COLOR_BTNSHADOW);
        }
    EXPECT_FALSE(anyRed) << "the picture's own colours are gone";
    EXPECT_TRUE(anyShadow) << "drawn in the shadow colour";
    EXPECT_EQ(disabled.Pixel(12, 12), kGround) << "the mask-coloured square stays clear";
    EXPECT_EQ(disabled.Pixel(2, 2), kGround) << "nothing outside the picture's place";
    EXPECT_TRUE(reports.empty());
}

TEST_F(DrawingTest, MissingTransparentBltIsReportedAndLeavesTheTarget) {
    theme::Api().TransparentBlt.Remove();
    auto picture = controls::PictureFromBitmap(SolidBitmap(8, 8, kRed));
    Canvas canvas(10, 10, kGround);
    const unsigned before = CountGdiObjects();
    theme::pvDrawTransparentPicture(picture.get(), canvas.dc(), 0, 0, 8, 8, kMagenta, 0, 0, 0, 0);
    EXPECT_EQ(CountGdiObjects(), before);
    EXPECT_EQ(ReportsFrom(L"pvDrawTransparentPicture"), 1);
    EXPECT_TRUE(canvas.AllOf({0, 0, 10, 10}, kGround));
}

TEST_F(DrawingTest, PictureOrFallbackPrefersTheFirstOnlyWhenItHoldsAnImage) {
    auto image = controls::PictureFromBitmap(SolidBitmap(4, 4, kRed));
    auto other = controls::PictureFromBitmap(SolidBitmap(4, 4, kBlue));
    auto empty = EmptyPicture();
    ComPtr<IPictureDisp> r;
    ASSERT_EQ(theme::pvPictureOrFallback(image.get(), other.get(), r), S_OK);
    EXPECT_EQ(r.get(), image.get());
    ASSERT_EQ(theme::pvPictureOrFallback(nullptr, other.get(), r), S_OK);
    EXPECT_EQ(r.get(), other.get());
    ASSERT_EQ(theme::pvPictureOrFallback(empty.get(), other.get(), r), S_OK);
    EXPECT_EQ(r.get(), other.get());
    ASSERT_EQ(theme::pvPictureOrFallback(nullptr, nullptr, r), S_OK);
    EXPECT_EQ(r.get(), nullptr);
    ASSERT_EQ(theme::pvPictureOrFallback(empty.get(), empty.get(), r), S_OK);
    EXPECT_EQ(r.get(), empty.get()) << "the second, whatever it holds";
}

TEST_F(DrawingTest, ColourValuesNameRgbOrASystemColourByTheLowByte) {
    EXPECT_EQ(theme::pvTranslateColor(0x8000000Fu), GetSysColor(15));
    EXPECT_EQ(theme::pvTranslateColor(0x000000FFu), 0x000000FFu);
    EXPECT_EQ(theme::pvTranslateColor(0x00123456u), 0x00123456u);
    EXPECT_EQ(theme::pvTranslateColor(0x80FFFF05u), GetSysColor(5));
}

TEST_F(DrawingTest, HimetricBecomesPixelsAtTheScreensTwipsPerPixel) {
    int px = -1;
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    ASSERT_EQ(dpi, 96) << "the tests run at 96 dots per inch";
    ASSERT_EQ(theme::pvHimetricToPixels(2540, px), S_OK);
    EXPECT_EQ(px, 96);
    ASSERT_EQ(theme::pvHimetricToPixels(0, px), S_OK);
    EXPECT_EQ(px, 0);
    ASSERT_EQ(theme::pvHimetricToPixels(847, px), S_OK);
    EXPECT_EQ(px, 32);
    ASSERT_EQ(theme::pvHimetricToPixels(2540, 12.0, px), S_OK);
    EXPECT_EQ(px, 120);
    EXPECT_EQ(theme::pvHimetricToPixels(1e12, px), theme::kOverflow);
}

}  // namespace
}  // namespace quillon::test
