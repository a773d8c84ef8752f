#include <gtest/gtest.h>

#include "handpix/picture/Picture.h"

namespace {
struct Fitter : CPicture {
    CRect Fit(int w, int h, CRect rc) {
        m_nWidth = w;
        m_nHeight = h;
        return CalcPictureRect(rc);
    }
};
}  // namespace

TEST(Fitting, RectangleRelativeToTheTarget) {
    const struct {
        const char* what;
        int w, h;
        CRect rc, want;
    } cases[] = {
        {"landscape shrunk to the width", 400, 300, CRect(0, 0, 100, 100), CRect(0, 12, 100, 87)},
        {"portrait shrunk to the height", 300, 400, CRect(0, 0, 100, 100), CRect(12, 0, 87, 100)},
        {"small picture centred, not enlarged", 50, 40, CRect(0, 0, 100, 100), CRect(25, 30, 75, 70)},
        {"wide picture in a tall rectangle", 150, 50, CRect(0, 0, 100, 200), CRect(0, 83, 100, 116)},
        {"portrait narrower than the rectangle overflows sideways", 60, 300, CRect(0, 0, 40, 400), CRect(-10, 50, 50, 350)},
        {"landscape lower than wide overflows top and bottom", 90, 80, CRect(0, 0, 100, 40), CRect(5, -20, 95, 60)},
        {"square counts as portrait", 200, 200, CRect(0, 0, 100, 50), CRect(25, 0, 75, 50)},
        {"offset rectangle: result stays relative", 400, 300, CRect(30, 40, 130, 140), CRect(0, 12, 100, 87)},
        {"thumbnail into the tile square", 100, 75, CRect(1, 1, 99, 99), CRect(0, 12, 98, 85)},
        {"odd sizes truncate toward zero", 33, 7, CRect(0, 0, 10, 10), CRect(0, 4, 10, 6)},
        {"narrow portrait", 7, 20, CRect(0, 0, 10, 4), CRect(4, 0, 5, 4)},
        {"negative half truncates toward zero", 61, 300, CRect(0, 0, 40, 400), CRect(-10, 50, 51, 350)},
        {"empty picture", 0, 0, CRect(0, 0, 10, 10), CRect(5, 5, 5, 5)},
        {"empty rectangle", 40, 30, CRect(0, 0, 0, 0), CRect(0, 0, 0, 0)},
    };
    for (const auto& c : cases) EXPECT_EQ(Fitter().Fit(c.w, c.h, c.rc), c.want) << c.what;
}

TEST(PixelSize, HimetricComesBackAsTheSamePixels) {
    for (int px = 0; px <= 20000; ++px) ASSERT_EQ(96LL * handpix::PixelsToHimetric(px) / 2540, px) << px;
    EXPECT_EQ(handpix::PixelsToHimetric(96), 2540);
    EXPECT_EQ(handpix::PixelsToHimetric(72), 1905);
}
