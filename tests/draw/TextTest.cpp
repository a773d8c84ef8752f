#include <gtest/gtest.h>

#include <string>

#include "handpix/platform/draw/DC.h"
#include "handpix/platform/draw/FontEngine.h"

namespace {
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kInk = RGB(0, 0, 0);

struct Ink {
    int count = 0;
    CRect box{1 << 20, 1 << 20, -(1 << 20), -(1 << 20)};
    int greys = 0;  // pixels neither ink nor paper
};

Ink InkIn(CDC& dc, CRect area, COLORREF paper, COLORREF paper2 = kWhite) {
    Ink ink;
    for (int y = area.top; y < area.bottom; ++y)
        for (int x = area.left; x < area.right; ++x) {
            COLORREF c = dc.GetPixel(x, y);
            if (c == paper || c == paper2) continue;
            if (c != kInk) ++ink.greys;
            ++ink.count;
            ink.box.left = std::min<LONG>(ink.box.left, x);
            ink.box.top = std::min<LONG>(ink.box.top, y);
            ink.box.right = std::max<LONG>(ink.box.right, x + 1);
            ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
        }
    return ink;
}

// The caption font of the thumbnail tiles.
struct Captioned {
    CDC dc;
    CBitmap bmp;
    CFont font;
    Captioned(int w, int h) {
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, w, h);
        dc.SelectObject(&bmp);
        font.CreateFont(12, 0, 0, 0, 300, 0, 0, 0, 0, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, 0x10,
                        "굴림");
        dc.SelectObject(&font);
    }
};
}  // namespace

class FaceAlias : public ::testing::TestWithParam<const char*> {};
TEST_P(FaceAlias, ResolvesToBaekmukGulim) {
    EXPECT_NE(handpix::text::ResolveFamilyFile(GetParam()).find("baekmuk/gulim"), std::string::npos);
}
INSTANTIATE_TEST_SUITE_P(KoreanSystemFace, FaceAlias, ::testing::Values("굴림", "Gulim", "굴림체"));

TEST(Text, HangulAndLatinBothInkCrisply) {
    for (const char* s : {"가나다", "Photo", "사진 01.jpg"}) {
        Captioned c(100, 15);
        CRect r(0, 0, 100, 15);
        c.dc.DrawText(s, -1, &r, DT_LEFT | DT_SINGLELINE);
        Ink ink = InkIn(c.dc, r, kWhite);
        EXPECT_GT(ink.count, 15) << s;
        EXPECT_EQ(ink.greys, 0) << s << ": caption text has no grey edges";
        EXPECT_LT(ink.box.bottom, 13) << s;
    }
}

TEST(Text, CentredLineIsBalanced) {
    Captioned c(100, 15);
    CRect r(0, 0, 100, 15);
    c.dc.DrawText("IMG_0001.jpg", -1, &r, DT_CENTER | DT_END_ELLIPSIS);
    CSize ext = c.dc.GetTextExtent("IMG_0001.jpg");
    Ink ink = InkIn(c.dc, r, kWhite);
    int left = (100 - ext.cx) / 2;
    EXPECT_GE(ink.box.left, left);
    EXPECT_LE(ink.box.right, left + ext.cx);
    EXPECT_LE(std::abs(ink.box.left - (100 - ink.box.right)), 3);
}

TEST(Text, LongNameEndsInEllipsisWithinTheRectangle) {
    Captioned c(160, 15);
    c.dc.SetBkColor(RGB(178, 180, 191));
    CRect r(20, 0, 120, 15);  // 100 px wide, paper either side of it
    std::string name = "아주아주긴파일이름_with_latin_tail_0123456789.jpg";
    c.dc.DrawText(name.c_str(), -1, &r, DT_CENTER | DT_END_ELLIPSIS);
    // Nothing leaves the rectangle, not even the opaque background.
    for (int y = 0; y < 15; ++y) {
        for (int x = 0; x < 20; ++x) EXPECT_EQ(c.dc.GetPixel(x, y), kWhite);
        for (int x = 120; x < 160; ++x) EXPECT_EQ(c.dc.GetPixel(x, y), kWhite);
    }
    Ink line = InkIn(c.dc, CRect(20, 0, 120, 15), RGB(178, 180, 191));
    EXPECT_GT(line.count, 100);
    EXPECT_LE(line.box.right, 120);
    EXPECT_GE(line.box.left, 20);
    EXPECT_LE(std::abs(line.box.left - 20 - (120 - line.box.right)), 3);  // still centred
    // The line ends in a dot of the ellipsis, not in the stroke of a letter.
    Ink tail = InkIn(c.dc, CRect(line.box.right - 2, 0, line.box.right, 15), RGB(178, 180, 191));
    EXPECT_LE(tail.box.bottom - tail.box.top, 2);
}

TEST(Text, BackgroundModeDecidesWhetherTheCellIsFilled) {
    for (int mode : {OPAQUE, TRANSPARENT}) {
        Captioned c(60, 15);
        c.dc.SetBkColor(RGB(10, 200, 10));
        c.dc.SetBkMode(mode);
        c.dc.SetTextColor(RGB(200, 0, 0));
        CRect r(0, 0, 60, 15);
        c.dc.DrawText("ab", -1, &r, DT_LEFT | DT_SINGLELINE);
        COLORREF corner = c.dc.GetPixel(0, 0);
        EXPECT_EQ(corner, mode == OPAQUE ? RGB(10, 200, 10) : kWhite);
        EXPECT_EQ(c.dc.GetPixel(59, 14), kWhite);  // beyond the text cell
    }
}

TEST(Text, CalcRectMeasuresLinesWithoutDrawing) {
    Captioned c(100, 40);
    CRect r(0, 0, 0, 0);
    int h = c.dc.DrawText("one\r\ntwo", -1, &r, DT_LEFT | DT_CALCRECT);
    EXPECT_EQ(h, 24);
    EXPECT_EQ(r.bottom, 24);
    EXPECT_GT(r.right, 10);
    EXPECT_EQ(InkIn(c.dc, CRect(0, 0, 100, 40), kWhite).count, 0);
    CRect one(0, 0, 0, 0);
    EXPECT_EQ(c.dc.DrawText("one\ntwo", -1, &one, DT_SINGLELINE | DT_CALCRECT), 12);
}

TEST(Text, VerticalCentringAndPointFonts) {
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap bmp;
    bmp.CreateCompatibleBitmap(&dc, 200, 40);
    dc.SelectObject(&bmp);
    CFont f;
    ASSERT_TRUE(f.CreatePointFont(100, "굴림", &dc));
    LOGFONT lf;
    f.GetLogFont(&lf);
    EXPECT_EQ(lf.lfHeight, -13);
    dc.SelectObject(&f);
    CRect r(0, 0, 200, 40);
    dc.DrawText("총 프레임수:03 현재:01", -1, &r, DT_SINGLELINE | DT_VCENTER);
    Ink ink = InkIn(dc, r, kWhite);
    EXPECT_GT(ink.box.top, 10);
    EXPECT_LT(ink.box.bottom, 30);
}
