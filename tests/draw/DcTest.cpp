#include <gtest/gtest.h>

#include "handpix/platform/draw/DC.h"

namespace {
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(255, 0, 0);
constexpr COLORREF kBlue = RGB(0, 0, 255);

// A memory DC over a fresh w x h bitmap.
struct Canvas {
    CDC dc;
    CBitmap bmp;
    CBitmap* old = nullptr;
    Canvas(int w, int h) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        old = dc.SelectObject(&bmp);
    }
};
}  // namespace

TEST(Dc, SelectReturnsThePreviousObject) {
    CDC dc;
    ASSERT_TRUE(dc.CreateCompatibleDC(nullptr));
    CBitmap a, b;
    a.CreateCompatibleBitmap(&dc, 4, 4);
    b.CreateCompatibleBitmap(&dc, 8, 8);
    CBitmap* stock = dc.SelectObject(&a);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(stock->GetBitmapDimension(), CSize(1, 1));
    EXPECT_EQ(dc.SelectObject(&b), &a);
    EXPECT_EQ(dc.SelectObject(stock), &b);

    CFont f;
    ASSERT_TRUE(f.CreatePointFont(100, "굴림"));
    CFont* oldFont = dc.SelectObject(&f);
    ASSERT_NE(oldFont, nullptr);
    EXPECT_EQ(dc.SelectObject(oldFont), &f);

    CBrush brush(kRed);
    CBrush* oldBrush = dc.SelectObject(&brush);
    EXPECT_EQ(dc.SelectObject(static_cast<CGdiObject*>(oldBrush)), &brush);

    CBitmap empty;  // never created: refused
    EXPECT_EQ(dc.SelectObject(&empty), nullptr);
}

TEST(Dc, NewBitmapsAreWhiteAndPixelsOutsideAreInvalid) {
    Canvas c(3, 2);
    EXPECT_EQ(c.dc.GetPixel(2, 1), kWhite);
    EXPECT_EQ(c.dc.SetPixel(1, 1, kRed), kRed);
    EXPECT_EQ(c.dc.GetPixel(1, 1), kRed);
    EXPECT_EQ(c.dc.SetPixel(3, 0, kRed), CLR_INVALID);
    EXPECT_EQ(c.dc.GetPixel(-1, 0), CLR_INVALID);
}

TEST(Dc, WindowOriginShiftsEveryOperation) {
    Canvas c(10, 10);
    c.dc.SetWindowOrg(5, 5);  // logical (5, 5) is device (0, 0)
    CRect r(5, 5, 7, 7);
    CBrush red(kRed);
    c.dc.FillRect(&r, &red);
    c.dc.SetPixel(9, 9, kBlue);
    c.dc.SetWindowOrg(0, 0);
    EXPECT_EQ(c.dc.GetPixel(0, 0), kRed);
    EXPECT_EQ(c.dc.GetPixel(1, 1), kRed);
    EXPECT_EQ(c.dc.GetPixel(2, 2), kWhite);
    EXPECT_EQ(c.dc.GetPixel(4, 4), kBlue);
}

TEST(Dc, ExcludedRectanglesStayUntouchedUntilClippingIsReset) {
    Canvas c(20, 20);
    CBrush red(kRed), blue(kBlue);
    CRect all(0, 0, 20, 20);
    EXPECT_EQ(c.dc.ExcludeClipRect(5, 5, 10, 10), COMPLEXREGION);
    c.dc.ExcludeClipRect(12, 0, 14, 20);
    c.dc.FillRect(&all, &red);
    struct Probe { int x, y; COLORREF want; } probes[] = {
        {0, 0, kRed}, {5, 5, kWhite}, {9, 9, kWhite}, {10, 9, kRed}, {9, 10, kRed},
        {12, 3, kWhite}, {13, 19, kWhite}, {14, 19, kRed}, {4, 7, kRed},
    };
    for (const Probe& p : probes) EXPECT_EQ(c.dc.GetPixel(p.x, p.y), p.want) << p.x << "," << p.y;
    c.dc.SelectClipRgn(nullptr);
    c.dc.FillRect(&all, &blue);
    for (const Probe& p : probes) EXPECT_EQ(c.dc.GetPixel(p.x, p.y), kBlue);
}

TEST(Dc, IntersectAndRegionClipping) {
    Canvas c(10, 10);
    c.dc.IntersectClipRect(2, 2, 6, 6);
    c.dc.FillSolidRect(0, 0, 10, 10, kRed);
    EXPECT_EQ(c.dc.GetPixel(1, 1), kWhite);
    EXPECT_EQ(c.dc.GetPixel(5, 5), kRed);
    EXPECT_EQ(c.dc.GetPixel(6, 6), kWhite);
    CRect box;
    c.dc.GetClipBox(&box);
    EXPECT_EQ(box, CRect(2, 2, 6, 6));

    CRgn rgn;
    rgn.CreateRectRgn(0, 0, 4, 4);
    rgn.AddRect(CRect(2, 2, 8, 3));  // overlaps the first
    c.dc.SelectClipRgn(&rgn);
    c.dc.FillSolidRect(0, 0, 10, 10, kBlue);
    EXPECT_EQ(c.dc.GetPixel(7, 2), kBlue);
    EXPECT_EQ(c.dc.GetPixel(7, 3), kWhite);
    EXPECT_EQ(c.dc.GetPixel(5, 5), kRed);
}

TEST(Dc, BitBltCopiesOnlyWhatTheSourceHas) {
    Canvas src(4, 4), dst(10, 10);
    src.dc.FillSolidRect(0, 0, 4, 4, kRed);
    src.dc.SetPixel(3, 3, kBlue);
    // Asking for 6 x 6 from a 4 x 4 source: the part beyond it is left alone.
    EXPECT_TRUE(dst.dc.BitBlt(2, 2, 6, 6, &src.dc, 0, 0, SRCCOPY));
    EXPECT_EQ(dst.dc.GetPixel(1, 1), kWhite);
    EXPECT_EQ(dst.dc.GetPixel(2, 2), kRed);
    EXPECT_EQ(dst.dc.GetPixel(5, 5), kBlue);
    EXPECT_EQ(dst.dc.GetPixel(6, 6), kWhite);
    // Source origin honoured: copying from (3, 3) puts the blue pixel first.
    dst.dc.BitBlt(0, 0, 1, 1, &src.dc, 3, 3, SRCCOPY);
    EXPECT_EQ(dst.dc.GetPixel(0, 0), kBlue);
    EXPECT_FALSE(dst.dc.BitBlt(0, 0, 1, 1, &src.dc, 0, 0, 0x00EE0086));
}

TEST(Dc, BitBltWithinOneSurfaceMovesRowsIntact) {
    Canvas c(1, 6);
    for (int y = 0; y < 6; ++y) c.dc.SetPixel(0, y, RGB(y * 10, 0, 0));
    c.dc.BitBlt(0, 1, 1, 5, &c.dc, 0, 0, SRCCOPY);  // scroll down by one
    for (int y = 1; y < 6; ++y) EXPECT_EQ(c.dc.GetPixel(0, y), RGB((y - 1) * 10, 0, 0));
}

TEST(Dc, StretchBltScalesByNearestPixelAndMirrors) {
    Canvas src(2, 1), dst(4, 2);
    src.dc.SetPixel(0, 0, kRed);
    src.dc.SetPixel(1, 0, kBlue);
    ASSERT_TRUE(dst.dc.StretchBlt(0, 0, 4, 2, &src.dc, 0, 0, 2, 1, SRCCOPY));
    const COLORREF doubled[] = {kRed, kRed, kBlue, kBlue};
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(dst.dc.GetPixel(x, 0), doubled[x]);
        EXPECT_EQ(dst.dc.GetPixel(x, 1), doubled[x]);
    }
    dst.dc.StretchBlt(4, 0, -4, 1, &src.dc, 0, 0, 2, 1, SRCCOPY);  // mirrored: covers columns 0 to 3
    EXPECT_EQ(dst.dc.GetPixel(0, 0), kBlue);
    EXPECT_EQ(dst.dc.GetPixel(3, 0), kRed);
}

TEST(Dc, AttachedSurfaceIsAWindowsBackingStore) {
    auto surface = std::make_shared<handpix::Surface>();
    ASSERT_TRUE(surface->Reset(8, 8, 0));
    CDC dc;
    ASSERT_TRUE(dc.AttachSurface(surface));
    dc.FillSolidRect(0, 0, 2, 2, kRed);
    EXPECT_EQ(surface->At(1, 1), handpix::PixelOf(kRed));
    EXPECT_EQ(surface->At(1, 1), 0x00FF0000u);  // blue, green, red, unused in memory order
    CBitmap b;
    b.CreateCompatibleBitmap(&dc, 2, 2);
    EXPECT_EQ(dc.SelectObject(&b), nullptr);  // a window's DC keeps its surface
}

TEST(Dc, HimetricConversionOnTheScreen) {
    CDC screen;
    ASSERT_TRUE(screen.CreateDC("DISPLAY", nullptr, nullptr, nullptr));
    EXPECT_EQ(screen.GetDeviceCaps(LOGPIXELSX), 96);
    SIZE s{2540, 1905};
    screen.HIMETRICtoDP(&s);
    EXPECT_EQ(s.cx, 96);
    EXPECT_EQ(s.cy, 72);
    screen.FillSolidRect(0, 0, 10, 10, kRed);  // no pixels: harmless
}
