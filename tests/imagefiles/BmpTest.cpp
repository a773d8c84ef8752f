#include <cstring>
#include <random>
#include <tuple>

#include "handpix/imagefiles/BmpReader.h"
#include "handpix/imagefiles/DibRows.h"
#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/platform/core/Limits.h"
#include "tests/imagefiles/Fixture.h"
#include "tests/support/BmpWriter.h"

using handpix::test::BmpSpec;
using handpix::test::MakeBmp;
using handpix::test::WriteBytes;

namespace {

// The colour a BMP pixel must come back as.
handpix::test::Bgr Expected(const BmpSpec& s, std::uint32_t v) {
    if (s.bits <= 8) return v < s.palette.size() ? s.palette[v] : handpix::test::Bgr{0, 0, 0};
    std::uint8_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
    if (s.bits == 16) {
        auto five = [](std::uint8_t c) { return static_cast<std::uint8_t>((c & 0xF8) | (c >> 5)); };
        return {five(b), five(g), five(r)};
    }
    return {b, g, r};
}

BmpSpec RandomBmp(int bits, int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    BmpSpec s;
    s.width = width;
    s.height = height;
    s.bits = bits;
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i)
            s.palette.push_back({static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                                 static_cast<std::uint8_t>(rng())});
    int n = width * std::abs(height);
    for (int i = 0; i < n; ++i) s.pixels.push_back(bits <= 8 ? rng() % (1u << bits) : rng() & 0xFFFFFF);
    return s;
}

class BmpDepths : public ImageFilesTest,
                  public ::testing::WithParamInterface<std::tuple<int, int, bool>> {};

}  // namespace

TEST_P(BmpDepths, EveryPixelLandsInTheBottomUpDib) {
    auto [bits, width, topDown] = GetParam();
    const int height = 3;
    BmpSpec s = RandomBmp(bits, width, topDown ? -height : height, bits * 100 + width);
    ASSERT_TRUE(WriteBytes(Path("p.BMP"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("p.BMP").c_str()), 0);
    ASSERT_EQ(g.m_nWidth, width);
    ASSERT_EQ(g.m_nHeight, height);
    ASSERT_EQ(g.m_nStride, static_cast<int>(handpix::DibStride(width)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = g.m_pDib + g.m_nStride * (height - 1 - y) + 3 * x;
            auto e = Expected(s, s.pixels[y * width + x]);
            ASSERT_EQ(p[0], e.b) << x << "," << y;
            ASSERT_EQ(p[1], e.g);
            ASSERT_EQ(p[2], e.r);
        }
}

INSTANTIATE_TEST_SUITE_P(AllDepthsOddWidths, BmpDepths,
                         ::testing::Combine(::testing::Values(1, 4, 8, 16, 24, 32), ::testing::Values(1, 3, 5, 17),
                                            ::testing::Bool()));

namespace {
// Small pictures whose headers or masks the reader must honour: the colours
// below are stated, not derived (narrow channels repeat their bits).
struct LayoutCase {
    const char* name;
    BmpSpec file;  // two pixels: 0xFF8040, 0x123456 (or palette indices 1, 2)
    handpix::test::Bgr expected[2];
};

BmpSpec TwoPixels(int bits, std::uint32_t headerSize, std::vector<std::uint32_t> masks) {
    BmpSpec s;
    s.width = 2;
    s.height = 1;
    s.bits = bits;
    s.headerSize = headerSize;
    s.masks = std::move(masks);
    if (bits <= 8) {
        s.palette = {{0, 0, 0}, {10, 20, 30}, {40, 50, 60}};
        s.palette.resize(1u << bits, {0, 0, 0});
        s.pixels = {1, bits == 1 ? 0u : 2u};
    } else {
        s.pixels = {0xFF8040, 0x123456};
    }
    return s;
}

const LayoutCase kLayouts[] = {
    {"V4Paletted8", TwoPixels(8, 108, {}), {{10, 20, 30}, {40, 50, 60}}},
    {"V5Paletted1", TwoPixels(1, 124, {}), {{10, 20, 30}, {0, 0, 0}}},
    {"Bitfields565", TwoPixels(16, 40, {0xF800, 0x07E0, 0x001F}), {{66, 130, 255}, {82, 52, 16}}},
    {"Bitfields444InV5", TwoPixels(16, 124, {0x0F00, 0x00F0, 0x000F}), {{68, 136, 255}, {85, 51, 17}}},
    {"Bitfields101010", TwoPixels(32, 40, {0x3FF00000, 0x000FFC00, 0x000003FF}), {{0x40, 0x80, 0xFF}, {0x56, 0x34, 0x12}}},
    {"BitfieldsAlphaLowInV4", TwoPixels(32, 108, {0x0000FF00, 0x00FF0000, 0xFF000000}),
     {{0x40, 0x80, 0xFF}, {0x56, 0x34, 0x12}}},
};

class BmpLayouts : public ImageFilesTest, public ::testing::WithParamInterface<LayoutCase> {};
}  // namespace

TEST_P(BmpLayouts, DecodeToTheStatedColours) {
    ASSERT_TRUE(WriteBytes(Path("l.bmp"), MakeBmp(GetParam().file)));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("l.bmp").c_str()), 0);
    for (int x = 0; x < 2; ++x) {
        const unsigned char* p = g.m_pDib + 3 * x;
        const handpix::test::Bgr e = GetParam().expected[x];
        EXPECT_EQ(std::vector<int>({p[0], p[1], p[2]}), std::vector<int>({e.b, e.g, e.r})) << "pixel " << x;
    }
}

INSTANTIATE_TEST_SUITE_P(Headers, BmpLayouts, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

namespace {
struct FailureCase {
    const char* name;
    std::vector<std::uint8_t> (*make)();
    const char* text;
    std::uint64_t limit = 0;  // picture limit for the case; 0: the default
};

std::vector<std::uint8_t> Good8() {
    BmpSpec s = RandomBmp(8, 4, 2, 1);
    return MakeBmp(s);
}

const FailureCase kFailures[] = {
    {"BA", [] { auto f = Good8(); f[1] = 'A'; return f; }, "Not a valid BMP File"},
    {"OneByte", [] { return std::vector<std::uint8_t>{'B'}; }, "Not a valid BMP File"},
    {"CutInInfoHeader", [] { auto f = Good8(); f.resize(30); return f; }, "Read Error!"},
    {"Rle", [] { BmpSpec s = RandomBmp(8, 4, 2, 1); s.compression = 1; return MakeBmp(s); },
     "This is a compressed file."},
    {"PaletteBeyondOffset", [] { BmpSpec s = RandomBmp(8, 4, 2, 1); s.offBitsDelta = -4; return MakeBmp(s); },
     "Corrupt palette"},
    {"CutInPalette", [] { auto f = Good8(); f.resize(54 + 100); return f; }, "Read Error!"},
    {"CutInRows", [] { auto f = Good8(); f.pop_back(); return f; }, "Read Error"},
    {"ZeroWidth", [] { BmpSpec s = RandomBmp(24, 0, 2, 1); return MakeBmp(s); }, "Memory alloc Failed"},
    {"HugeSize", [] { auto f = Good8(); f[18] = 0xFF; f[19] = 0xFF; f[22] = 0xFF; f[23] = 0x7F; return f; },
     "65535 x 32767 is over the 100000000-pixel limit"},
    // The limit allows it, but its stride would not fit CGraphicFileLoad's int.
    {"StridePastInt", [] { auto f = MakeBmp(RandomBmp(1, 8, 1, 1)); f[18] = 0x00; f[19] = 0x08; f[20] = 0xAF; f[21] = 0x2F;
                           return f; },
     "800000000 x 1 is over the 1000000000000-pixel limit", 1'000'000'000'000},
    {"BrokenMask", [] { BmpSpec s = RandomBmp(16, 2, 1, 1); s.masks = {0x7C00, 0x03E0, 0x0015}; return MakeBmp(s); },
     "Not a valid BMP File"},
    {"BitfieldsOn8Bit", [] { BmpSpec s = RandomBmp(8, 2, 1, 1); s.compression = 3; return MakeBmp(s); },
     "This is a compressed file."},
    {"V5HeaderPastOffset", [] { BmpSpec s = RandomBmp(24, 2, 1, 1); s.headerSize = 124; s.offBitsDelta = -4;
                                return MakeBmp(s); },
     "Corrupt palette"},
    {"TwoBitDepth", [] { auto f = Good8(); f[28] = 2; return f; }, "Not a valid BMP File"},
};

class BmpFailures : public ImageFilesTest, public ::testing::WithParamInterface<FailureCase> {};
}  // namespace

TEST_P(BmpFailures, KeepTheirTextAndHoldNoPicture) {
    ASSERT_TRUE(WriteBytes(Path("bad.bmp"), GetParam().make()));
    handpix::SetMaxPicturePixels(GetParam().limit);
    CBmpReader reader;
    int w = -1, h = -1;
    unsigned char* p = reader.ReadBmp(CString(Path("bad.bmp").c_str()), &w, &h);
    EXPECT_EQ(p, nullptr);
    delete[] p;
    EXPECT_EQ(reader.m_strError, GetParam().text);
    CGraphicFileLoad g;
    EXPECT_EQ(g.LoadGraphicFile(Path("bad.bmp").c_str()), 1);
    EXPECT_EQ(g.m_pDib, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Texts, BmpFailures, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ImageFilesTest, MissingBmpNamesThePath) {
    CBmpReader reader;
    int w, h;
    EXPECT_EQ(reader.ReadBmp(CString(Path("none.bmp").c_str()), &w, &h), nullptr);
    EXPECT_EQ(reader.m_strError, CString("Can't open file for reading :\n") + Path("none.bmp").c_str());
}

TEST_F(ImageFilesTest, FourBitWithGapAndShortPaletteGivesBlackBeyondIt) {
    BmpSpec s = RandomBmp(4, 5, 2, 7);
    s.palette.resize(3);
    s.clrUsed = 3;
    s.gapAfterPalette = 6;
    s.pixels = {0, 1, 2, 3, 15, 2, 1, 0, 9, 2};
    ASSERT_TRUE(WriteBytes(Path("g.bmp"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_EQ(g.LoadGraphicFile(Path("g.bmp").c_str()), 0);
    const unsigned char* top = g.m_pDib + g.m_nStride;  // row 0 of the picture is the last DIB row
    EXPECT_EQ(top[3 * 2 + 2], s.palette[2].r);
    for (int x : {3, 4}) EXPECT_EQ(top[3 * x] | top[3 * x + 1] | top[3 * x + 2], 0) << x;
}

TEST_F(ImageFilesTest, DispatchByExtension) {
    BmpSpec s = RandomBmp(24, 2, 2, 3);
    ASSERT_TRUE(WriteBytes(Path("a.tiff"), MakeBmp(s)));
    ASSERT_TRUE(WriteBytes(Path("a.JPE"), MakeBmp(s)));
    CGraphicFileLoad g;
    ASSERT_TRUE(WriteBytes(Path("a.bMp"), MakeBmp(s)));
    ASSERT_EQ(g.LoadGraphicFile(Path("a.JPE").c_str()), 1);  // a JPEG name: the JPEG reader refuses BMP bytes
    ASSERT_EQ(g.LoadGraphicFile(Path("a.bMp").c_str()), 0);
    EXPECT_EQ(g.LoadGraphicFile(Path("a.tiff").c_str()), 2);
    EXPECT_EQ(g.m_pDib, nullptr);
    EXPECT_EQ(g.m_nWidth, 2);  // an unknown extension leaves the size as it was
    EXPECT_EQ(g.LoadGraphicFile(Path("noext").c_str()), 2);
}

TEST_F(ImageFilesTest, CopiesOwnTheirPixels) {
    BmpSpec s = RandomBmp(24, 3, 2, 5);
    ASSERT_TRUE(WriteBytes(Path("c.bmp"), MakeBmp(s)));
    CGraphicFileLoad a;
    ASSERT_EQ(a.LoadGraphicFile(Path("c.bmp").c_str()), 0);
    CGraphicFileLoad b(a);
    CGraphicFileLoad c;
    c = a;
    ASSERT_NE(b.m_pDib, a.m_pDib);
    ASSERT_NE(c.m_pDib, a.m_pDib);
    EXPECT_EQ(std::memcmp(b.m_pDib, a.m_pDib, a.m_nStride * a.m_nHeight), 0);
    EXPECT_EQ(std::memcmp(c.m_pDib, a.m_pDib, a.m_nStride * a.m_nHeight), 0);
}
