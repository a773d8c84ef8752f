#include <cstring>
#include <vector>

#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/imagefiles/SharedPalette.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"

using handpix::test::WriteBytes;

namespace {
std::vector<std::uint8_t> ImgFile(int w, int h, int bits, const std::vector<std::uint8_t>& data,
                                  bool pht = false) {
    std::vector<std::uint8_t> f(pht ? 20 : 0, 0x5A);
    std::uint8_t hd[48] = {'I', 'M', 'G', ' '};
    hd[4] = w & 0xFF, hd[5] = (w >> 8) & 0xFF, hd[6] = h & 0xFF, hd[7] = (h >> 8) & 0xFF;
    hd[10] = static_cast<std::uint8_t>(bits);
    const std::size_t at = f.size();
    f.resize(at + 48 + data.size());
    std::memcpy(&f[at], hd, 48);
    if (!data.empty()) std::memcpy(&f[at + 48], data.data(), data.size());
    return f;
}

// Pixel (x, y) of a loaded picture as red, green, blue.
std::vector<int> At(const CGraphicFileLoad& g, int x, int y) {
    const unsigned char* p = g.m_pDib + g.m_nStride * (g.m_nHeight - 1 - y) + 3 * x;
    return {p[2], p[1], p[0]};
}
}  // namespace

TEST_F(ImageFilesTest, SaveImgWritesTheHeaderAndSixteenBitPixels) {
    const int w = 128, h = 128;
    std::vector<std::uint8_t> packed(w * h * 3);
    for (std::size_t i = 0; i < packed.size(); ++i) packed[i] = static_cast<std::uint8_t>(i * 7 + i / 384);
    CGraphicFileLoad g;
    g.m_pDib = PackDibRows(packed.data(), w, h, &g.m_nStride);
    g.m_nWidth = w;
    g.m_nHeight = h;
    EXPECT_EQ(g.SaveIMG(Path("o.img").c_str()), 0);
    std::vector<std::uint8_t> f;
    FILE* fp = std::fopen(Path("o.img").c_str(), "rb");
    ASSERT_NE(fp, nullptr);
    f.resize(70000);
    f.resize(std::fread(f.data(), 1, f.size(), fp));
    std::fclose(fp);
    ASSERT_EQ(f.size(), 48u + 32768u);
    EXPECT_EQ(std::memcmp(f.data(), "IMG ", 4), 0);
    EXPECT_EQ(f[10], 16);
    EXPECT_EQ(f[12] | (f[13] << 8), 256);
    EXPECT_STREQ(reinterpret_cast<const char*>(&f[17]), "Reserved area");

    CGraphicFileLoad back;
    ASSERT_EQ(back.LoadGraphicFile(Path("o.img").c_str()), 0);
    for (int i = 0; i < w * h; i += 97) {
        int x = i % w, y = i / w;
        // DIB row h-1-y holds picture row y; the packed source row y became DIB row y.
        const unsigned char* src = packed.data() + 3 * (w * (h - 1 - y) + x);
        auto field = [](int v, int keep) {
            int m = v & (0xFF << (8 - keep)) & 0xFF;
            return m == ((0xFF << (8 - keep)) & 0xFF) ? 255 : m;
        };
        EXPECT_EQ(At(back, x, y), (std::vector<int>{field(src[2], 5), field(src[1], 6), field(src[0], 5)}));
    }
}

TEST_F(ImageFilesTest, NearWhiteSavesAsAllOnes) {
    for (std::uint8_t g8 : {255, 252}) {
        unsigned char px[3] = {static_cast<unsigned char>(g8 == 255 ? 255 : 248), g8,
                               static_cast<unsigned char>(g8 == 255 ? 255 : 248)};
        CGraphicFileLoad g;
        g.m_pDib = PackDibRows(px, 1, 1, &g.m_nStride);
        g.m_nWidth = g.m_nHeight = 1;
        g.SaveIMG(Path("w.img").c_str());
        FILE* fp = std::fopen(Path("w.img").c_str(), "rb");
        std::uint8_t f[50] = {};
        ASSERT_EQ(std::fread(f, 1, 50, fp), 50u);
        std::fclose(fp);
        EXPECT_EQ(f[48] | (f[49] << 8), 0xFFFF);
    }
}

struct DepthCase {
    const char* name;
    int w, h, bits;
    std::vector<std::uint8_t> data;
    std::vector<int> topLeft, last;  // rgb of pixel 0 and of the last pixel
    bool pht;
};

class ImgDepths : public ImageFilesTest, public ::testing::WithParamInterface<DepthCase> {};

TEST_P(ImgDepths, DecodeByTheColourRules) {
    const DepthCase& c = GetParam();
    handpix::ClearSharedPalette();
    const char* name = c.pht ? "x.pht" : "x.img";
    ASSERT_TRUE(WriteBytes(Path(name), ImgFile(c.w, c.h, c.bits, c.data, c.pht)));
    CGraphicFileLoad g;
    ASSERT_EQ(c.pht ? g.LoadPHT(Path(name).c_str()) : g.LoadIMG(Path(name).c_str()), 1);
    ASSERT_EQ(g.m_nWidth, c.w);
    ASSERT_EQ(g.m_nHeight, c.h);
    EXPECT_EQ(At(g, 0, 0), c.topLeft);
    EXPECT_EQ(At(g, c.w - 1, c.h - 1), c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ImgDepths,
    ::testing::Values(
        DepthCase{"OneBitTopLeftIsBit7", 16, 2, 1, {0x80, 0, 0, 0x01}, {255, 255, 255}, {255, 255, 255}, false},
        DepthCase{"TwoBitLoaderLadder", 4, 1, 2, {0x4C}, {64, 64, 64}, {0, 0, 0}, false},
        DepthCase{"TwoBitTopValue", 2, 2, 2, {0xC2}, {255, 255, 255}, {128, 128, 128}, false},
        DepthCase{"EightBit332", 2, 1, 8, {0xFF, 0x1C}, {255, 255, 255}, {0, 255, 0}, false},
        DepthCase{"SixteenBit565", 2, 1, 16, {0x00, 0xF8, 0x1F, 0x00}, {255, 0, 0}, {0, 0, 255}, false},
        DepthCase{"TwentyFourRgb", 1, 2, 24, {1, 2, 3, 4, 5, 6}, {1, 2, 3}, {4, 5, 6}, false},
        DepthCase{"UnknownDepthIsBlack", 2, 1, 5, {0xFF, 0xFF}, {0, 0, 0}, {0, 0, 0}, false},
        DepthCase{"PhtSkipsTwentyBytes", 1, 1, 24, {9, 8, 7}, {9, 8, 7}, {9, 8, 7}, true},
        DepthCase{"PhtTwoBitIsBlack", 4, 1, 2, {0xFF}, {0, 0, 0}, {0, 0, 0}, true},
        DepthCase{"PartialLastByteFromBitsPresent", 3, 3, 1, {0xFF, 0x80}, {255, 255, 255}, {255, 255, 255},
                  false},
        DepthCase{"PartialLastByteMissingIsBlack", 3, 3, 1, {0xFF}, {255, 255, 255}, {0, 0, 0}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageFilesTest, EightBitGoesThroughThePaletteWhenInForce) {
    std::uint16_t colours[256] = {};
    colours[255] = 0x07E0;  // pure green
    handpix::SetSharedPalette(colours);
    ASSERT_TRUE(WriteBytes(Path("p.img"), ImgFile(1, 1, 8, {0xFF})));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadIMG(Path("p.img").c_str()), 1);
    handpix::ClearSharedPalette();
    EXPECT_EQ(At(g, 0, 0), (std::vector<int>{0, 255, 0}));
}

TEST_F(ImageFilesTest, ImgRefusals) {
    struct Case {
        int w, h, bits;
        std::size_t bytes;
    };
    for (Case c : {Case{4, 4, 24, 47}, Case{179, 160, 8, 179 * 160}, Case{0, 5, 8, 0}, Case{-4, 5, 8, 20},
                   Case{300, 300, 1, 300 * 300 / 8}}) {
        ASSERT_TRUE(WriteBytes(Path("r.img"), ImgFile(c.w, c.h, c.bits, std::vector<std::uint8_t>(c.bytes, 1))));
        CGraphicFileLoad g;
        EXPECT_EQ(g.LoadIMG(Path("r.img").c_str()), 0) << c.w << "x" << c.h;
        EXPECT_EQ(g.LoadGraphicFile(Path("r.img").c_str()), 1);
        EXPECT_EQ(g.m_pDib, nullptr);
    }
    ASSERT_TRUE(WriteBytes(Path("short.img"), std::vector<std::uint8_t>(47, 0)));
    CGraphicFileLoad g;
    EXPECT_EQ(g.LoadIMG(Path("short.img").c_str()), 0);
}
