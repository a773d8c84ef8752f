// SNI files through CPicture: the header record and its checks, the colour
// key, the palette trailer, the stream handed to the engine, and the raw frame
// converted by the header's bit depth.
#include <cstring>

#include "tests/handsetpictures/HandsetTestSupport.h"

namespace handpix::test {
namespace {

class Sni : public HandsetPictureTest {
protected:
    // A readable one-frame kind-1 SNI file of 16 x 16 pixels with this header.
    std::string Kind1File(const std::string& name, AnimHeader h,
                          const std::optional<std::vector<std::uint16_t>>& palette = std::nullopt) {
        return Write(name, WriteSni(h, WriteSisKind1(Kind1Stripes(2, 2, std::max<int>(1, h.frameCount))), palette));
    }
};

std::vector<std::uint16_t> TestPalette() {
    std::vector<std::uint16_t> p(256);
    for (int i = 0; i < 256; ++i) p[i] = static_cast<std::uint16_t>(0x0841 * (i % 31) + i);
    return p;
}

TEST_F(Sni, HeaderRecordIsKeptByteForByte) {
    const Bytes file = WriteSni({.reservedSeed = 0x90}, WriteSisKind1(Kind1Stripes(2, 2, 1)));
    const std::string path = Write("a.sni", file);
    ASSERT_TRUE(pic->GetSNIHeader(path));
    EXPECT_EQ(std::memcmp(pic->GetAnimationInfo(), file.data(), 150), 0);
    EXPECT_TRUE(pic->IsSNIFile());
    ASSERT_TRUE(pic->GetSNIData(path, 0));
    EXPECT_EQ(std::memcmp(pic->GetAnimationInfo(), file.data(), 150), 0);
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(Sni, HeaderChecks) {
    struct Case { const char* name; void (*edit)(AnimHeader&); bool accepted; };
    const Case cases[] = {
        {"plain", [](AnimHeader&) {}, true},
        {"largest", [](AnimHeader& h) { h.width = 178; h.height = 160; h.frameCount = 50; }, true},
        {"negative sizes pass", [](AnimHeader& h) { h.width = -3; h.height = -1; }, true},
        {"24 bits", [](AnimHeader& h) { h.bits = 24; }, true},
        {"signature", [](AnimHeader& h) { h.signature[2] = 'X'; }, false},
        {"eba signature", [](AnimHeader& h) { h.signature[0] = 'A'; h.signature[1] = 'N'; }, false},
        {"width 179", [](AnimHeader& h) { h.width = 179; }, false},
        {"height 161", [](AnimHeader& h) { h.height = 161; }, false},
        {"4 bits", [](AnimHeader& h) { h.bits = 4; }, false},
        {"51 frames", [](AnimHeader& h) { h.frameCount = 51; }, false},
    };
    for (const Case& c : cases) {
        AnimHeader h;
        c.edit(h);
        const std::string path = Write("h.sni", WriteSni(h, {}));
        EXPECT_EQ(pic->GetSNIHeader(path), c.accepted) << c.name;
        EXPECT_EQ(TakeMessages(), c.accepted ? std::vector<std::string>{} : std::vector<std::string>{kNotAnimation})
            << c.name;
    }
    // Silent refusals: a resource name, and a file that is not there.
    EXPECT_FALSE(pic->GetSNIHeader("<12000>"));
    EXPECT_FALSE(pic->GetSNIHeader(Missing()));
    EXPECT_FALSE(pic->GetSNIData(Missing(), 0));
    EXPECT_TRUE(TakeMessages().empty());
}

// Both header readers read into the record they keep: a file too short to
// fill it must not pass on the bytes of the file read before.
TEST_F(Sni, AShortFileIsNotTakenForTheFileReadBefore) {
    const std::string good[] = {Kind1File("good.sni", {}),
                                Write("good.eba", WriteEba({.width = 60, .height = 60, .bits = 16}, {}))};
    const std::string truncated[] = {Write("one", Bytes{'A'}), Write("sni", Bytes{'S', 'N', 'I'})};
    for (const std::string& g : good)
        for (const std::string& t : truncated) {
            EXPECT_TRUE(pic->GetEBAHeader(g) && !pic->GetEBAHeader(t) && pic->GetEBAHeader(g) && !pic->GetSNIHeader(t))
                << g << " then " << t;
            EXPECT_EQ(TakeMessages(), std::vector<std::string>(2, kNotAnimation));
        }
}

TEST_F(Sni, ColourKeyAndTransparency) {
    const std::vector<std::uint16_t> palette = TestPalette();
    struct Case { const char* name; std::uint8_t bits; std::int8_t ownPalette; std::uint16_t trans; std::uint8_t transparent; Rgb key; BOOL flag; };
    const Case cases[] = {
        {"8-bit, 256 means none", 8, 0, 256, 1, kWhite, 0},
        {"8-bit, 256 means none with a palette", 8, 1, 256, 0, kWhite, 0},
        {"8-bit 3-3-2", 8, 0, 0x2E, 0, ExpandRgb332(0x2E), 1},
        {"8-bit high byte ignored", 8, 0, 0x1FF, 0, kWhite, 1},
        {"8-bit own palette", 8, 1, 77, 0, ExpandRgb565(palette[77]), 1},
        {"16-bit on", 16, 0, 0xF81F, 1, Rgb{255, 0, 255}, 1},
        {"16-bit off", 16, 0, 0x07E0, 0, Rgb{0, 255, 0}, 0},
    };
    for (const Case& c : cases) {
        const AnimHeader h{.bits = c.bits, .palette = c.ownPalette, .transColor = c.trans, .transparent = c.transparent};
        const std::string path = Kind1File("k.sni", h, c.ownPalette ? std::optional(palette) : std::nullopt);
        ASSERT_TRUE(pic->GetSNIHeader(path)) << c.name;
        EXPECT_EQ(Key(), c.key) << c.name;
        EXPECT_EQ(pic->m_bTransparent, c.flag) << c.name;
    }
    // 1-, 2- and 24-bit pictures leave key and flag alone.
    for (std::uint8_t bits : {1, 2, 24}) {
        ASSERT_TRUE(pic->GetSNIHeader(Kind1File("k.sni", {.bits = bits})));
        EXPECT_EQ(Key(), (Rgb{0, 255, 0}));
        EXPECT_EQ(pic->m_bTransparent, 0);
    }
}

TEST_F(Sni, OneBitRowsArePackedAtTheHeaderWidth) {
    // A 24-pixel-wide stream read as a 20-pixel-wide picture: the header's
    // width decides, so pixel 20 (row 1, column 0) is bit 3 of byte 2.
    const SisKind1Stream s = Kind1Stripes(3, 2, 1);
    const std::string path = Write("w20.sni", WriteSni({.width = 20, .height = 16}, WriteSisKind1(s)));
    ASSERT_TRUE(pic->GetSNIData(path, 0));
    const std::vector<std::uint8_t> raw = PackBits1(RenderSisKind1(s, 0));
    for (std::size_t i = 0; i < 20u * 16u; ++i) {
        const bool set = raw[i / 8] & (0x80 >> (i % 8));
        ASSERT_EQ(Frame(i), set ? kBlack : kWhite) << i;
    }
    EXPECT_EQ(Frame(20), (raw[2] & 0x08) ? kBlack : kWhite);
}

TEST_F(Sni, TwoBitValuesRunFromWhiteToBlack) {
    const std::string path = Write("k2.sni", WriteSni({.width = 8, .height = 8, .bits = 2}, WriteSisKind2(Kind2Ramp())));
    ASSERT_TRUE(pic->GetSNIData(path, 0));
    const Rgb expected[4] = {Grey(255), Grey(192), Grey(128), Grey(0)};
    for (std::size_t i = 0; i < 64; ++i) ASSERT_EQ(Frame(i), expected[i % 4]) << i;
}

TEST_F(Sni, PaletteTrailerCarriesIntoLaterPicturesUntilAnEbaHeader) {
    const std::vector<std::uint16_t> palette = TestPalette();
    AnimHeader h{.width = 12, .height = 10, .bits = 8, .palette = 1, .frameCount = 1};
    ASSERT_TRUE(pic->GetSNIData(Write("p.sni", WriteSni(h, SafRamp(12, 10, 1), palette)), 0));
    for (std::size_t i = 0; i < 120; ++i) ASSERT_EQ(Frame(i), ExpandRgb565(palette[i % 251])) << i;

    // A later 8-bit IMG on another picture sees the palette ...
    const std::string img = Write("p.img", WriteImg(2, 1, 8, {3, 200}));
    auto other = std::make_unique<CPicture>();
    auto otherImg1 = [&other] { return Rgb{other->m_ImgRGB[1][0], other->m_ImgRGB[1][1], other->m_ImgRGB[1][2]}; };
    ASSERT_TRUE(other->GetIMG(img));
    EXPECT_EQ(otherImg1(), ExpandRgb565(palette[200]));
    // ... until a true EBA header clears it.
    ASSERT_TRUE(pic->GetEBAHeader(Write("p.eba", WriteEba({.width = 60, .height = 60, .bits = 8}, {Bytes(3600)}))));
    ASSERT_TRUE(other->GetIMG(img));
    EXPECT_EQ(otherImg1(), ExpandRgb332(200));
    // An SNI without a palette of its own clears it too.
    SetSharedPalette(palette.data());
    h.palette = 0;
    ASSERT_TRUE(pic->GetSNIData(Write("q.sni", WriteSni(h, SafRamp(12, 10, 1))), 0));
    EXPECT_EQ(Frame(5), ExpandRgb332(5));
    EXPECT_FALSE(GetSharedPalette().inForce);
}

TEST_F(Sni, LastKilobyteHalfIsThePaletteOnlyWhenTheHeaderSaysSo) {
    // A stream padded to 29,800 bytes: with the palette behind it the stream
    // fits the 30,000-byte buffer; read as stream, the palette overflows it.
    Bytes stream = WriteSisKind1(Kind1Stripes(2, 2, 1));
    stream.resize(29800, 0);
    AnimHeader h{.palette = 1};
    EXPECT_TRUE(pic->GetSNIData(Write("pad.sni", WriteSni(h, stream, TestPalette())), 0));
    h.palette = 0;
    EXPECT_FALSE(pic->GetSNIData(Write("pad0.sni", WriteSni(h, stream, TestPalette())), 0));
    EXPECT_EQ(TakeMessages(), std::vector<std::string>{kNotAnimation});
    // Exactly 30,000 bytes of stream still fit.
    stream.resize(30000, 0);
    EXPECT_TRUE(pic->GetSNIData(Write("full.sni", WriteSni(h, stream)), 0));
}

TEST_F(Sni, StreamOfWidthZeroStartsAt256) {
    SisKind2Stream s = Kind2Ramp();
    s.widthByte = 0;
    ASSERT_TRUE(pic->GetSNIData(Write("w0.sni", WriteSni({.width = 178, .height = 8, .bits = 2}, WriteSisKind2(s))), 0));
    EXPECT_EQ(Frame(1), Grey(192));
    EXPECT_EQ(Frame(3), Grey(0));
    EXPECT_TRUE(TakeMessages().empty());
}

TEST_F(Sni, DataFailuresAndTheirMessages) {
    const AnimHeader h{.frameCount = 2}, pal{.palette = 1, .frameCount = 2};
    const Bytes good = WriteSni(h, WriteSisKind1(Kind1Stripes(2, 2, 2)));
    const std::string path = Write("good.sni", good);
    struct Case { const char* name; std::string path; int frame; std::vector<std::string> messages; };
    const std::string shortHead = Write("bh.sni", Bytes(good.begin(), good.begin() + 47));
    const std::string shortTail = Write("ah.sni", Bytes(good.begin(), good.begin() + 149));
    const Case cases[] = {
        {"first part short", shortHead, 0, {shortHead + "Fileinfo Error(BH)"}},
        {"second part short", shortTail, 0, {shortTail + "Fileinfo Error(AH)"}},
        {"frame equal to the count", path, 2, {kBeyondFrameCount}},
        {"frame beyond the count", path, 3, {kBeyondFrameCount}},
        {"negative frame", path, -1, {}},
        {"no stream", Write("empty.sni", WriteSni(h, {})), 0, {kNotAnimation}},
        {"garbage stream", Write("junk.sni", WriteSni(h, {'S', 'I', 'Z', 1, 2, 3})), 0, {kNotAnimation}},
        {"palette missing", Write("nopal.sni", WriteSni(pal, {1, 2, 3})), 0, {kNotAnimation}},
        {"frame the stream lacks", Write("few.sni", WriteSni(h, SafRamp(12, 10, 1))), 1, {kNotAnimation}},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(pic->GetSNIData(c.path, c.frame)) << c.name;
        EXPECT_EQ(TakeMessages(), c.messages) << c.name;
    }
    EXPECT_TRUE(pic->GetSNIData(path, 1));
}

}  // namespace
}  // namespace handpix::test
