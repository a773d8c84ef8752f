// IMG files through CPicture: the picture's own grey ladder, the message on
// short data, and drawing unscaled at the rectangle's top-left corner.
#include "tests/handsetpictures/HandsetTestSupport.h"

namespace handpix::test {
namespace {

using ImgTest = HandsetPictureTest;

TEST_F(ImgTest, DepthsAndTheGreyLadder) {
    struct Case { int bits; Bytes pixels; Rgb expected[4]; };  // pixels of a 4 x 1 picture
    const Case cases[] = {
        {1, {0xA0}, {kWhite, kBlack, kWhite, kBlack}},
        {2, {0x1B}, {Grey(0), Grey(128), Grey(192), Grey(255)}},
        {8, {0xFF, 0xE0, 0x1C, 0x03}, {kWhite, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}}},
        {16, {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x21, 0x08}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {8, 4, 8}}},
        {24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}},
        {5, {1, 2, 3, 4}, {kBlack, kBlack, kBlack, kBlack}},
    };
    for (const Case& c : cases) {
        const Bytes file = WriteImg(4, 1, c.bits, c.pixels);
        ASSERT_TRUE(pic->GetIMG(Write("d.img", file))) << c.bits;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(Img(i), c.expected[i]) << c.bits << " " << i;
        EXPECT_TRUE(std::equal(file.begin(), file.begin() + 48, pic->m_ImgHeader));
    }
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(ImgTest, Failures) {
    const Bytes good = WriteImg(16, 2, 1, {1, 2, 3, 4});
    EXPECT_FALSE(pic->GetIMG(Missing()));
    EXPECT_FALSE(pic->GetIMG(Write("h.img", Bytes(good.begin(), good.begin() + 47))));
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_FALSE(pic->GetIMG(Write("p.img", Bytes(good.begin(), good.end() - 1))));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{kNotAnimation});
    // Beyond the handset screen: refused without reading into the buffers.
    EXPECT_FALSE(pic->GetIMG(Write("big.img", WriteImg(179, 161, 8, Bytes(179 * 161)))));
    EXPECT_FALSE(pic->GetIMG(Write("neg.img", WriteImg(-4, 2, 8, Bytes(8)))));
    EXPECT_TRUE(TakeMessages().empty());
    EXPECT_TRUE(pic->GetIMG(Write("g.img", good)));
}

TEST_F(ImgTest, DisplayDrawsUnscaledAtTheTopLeft) {
    // 3 x 2, 24-bit, distinct pixels; the rectangle's size does not matter.
    const Bytes px = {10, 0, 0, 20, 0, 0, 30, 0, 0, 0, 10, 0, 0, 20, 0, 0, 30, 0};
    const std::string path = Write("s.img", WriteImg(3, 2, 24, px));
    Target t;
    EXPECT_EQ(pic->DisplayIMG(path, &t.dc, CRect(40, 30, 41, 31)), 1);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(t.Colour(40 + x, 30 + y), RGB(y ? 0 : 10 * (x + 1), y ? 10 * (x + 1) : 0, 0)) << x << "," << y;
    for (const auto& [x, y] : {std::pair{43, 30}, std::pair{40, 32}, std::pair{39, 30}})
        EXPECT_EQ(t.Colour(x, y), RGB(255, 255, 255)) << x << "," << y;
    EXPECT_EQ(pic->DisplayIMG(Missing(), &t.dc, CRect(0, 0, 1, 1)), 0);
    EXPECT_EQ(t.Colour(0, 0), RGB(255, 255, 255));
}

TEST_F(ImgTest, WidePicturesAreClippedToTheCanvas) {
    // 200 x 100 at 8 bits is within the handset limits but wider than the
    // 192-pixel canvas: columns from 192 on are not drawn.
    const std::string path = Write("w.img", WriteImg(200, 100, 8, Bytes(200 * 100, 0xE0)));
    Target t;
    EXPECT_EQ(pic->DisplayIMG(path, &t.dc, CRect(0, 0, 300, 200)), 1);
    EXPECT_EQ(t.Colour(191, 99), RGB(255, 0, 0));
    EXPECT_EQ(t.Colour(192, 0), RGB(255, 255, 255));
    EXPECT_EQ(t.Colour(0, 100), RGB(255, 255, 255));
    EXPECT_EQ(pic->m_ImgRGB[199 * 1][0], 255);
}

}  // namespace
}  // namespace handpix::test
