// CJpeg's decoder against libjpeg-turbo, against the plain arithmetic, on
// reshaped files, and on broken ones.
#include <gtest/gtest.h>

#include <tuple>

#include "handpix/jpegcodec/Jpeg.h"
#include "tests/jpegcodec/JpegReference.h"
#include "tests/jpegcodec/JpegTestUtil.h"
#include "tests/support/JpegSegments.h"

using namespace jpegtest;

namespace {

struct PeerCase {
    const char* name;
    int width, height, comps, h0, v0, restart;
    EnumYUVType type;
};

class PeerFiles : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerFiles, DecodeExactlyAsThePlainArithmeticAndCloseToThePeer) {
    const PeerCase& c = GetParam();
    Picture src = PhotoLike(c.width, c.height, 3);
    if (c.comps == 1) {
        Picture grey{c.width, c.height, 1, {}};
        for (std::size_t i = 0; i < src.px.size(); i += 3) grey.px.push_back(src.px[i + 1]);
        src = grey;
    }
    EncodeOptions o;
    std::tie(o.h0, o.v0, o.restartInterval) = std::tuple(c.h0, c.v0, c.restart);
    const Bytes file = PeerEncode(src, o);
    ASSERT_FALSE(file.empty());

    CJpeg j;
    ASSERT_EQ(Load(j, file), 1);
    EXPECT_EQ(std::pair(j.GetWidth(), j.GetHeight()), std::pair(c.width, c.height));
    if (c.comps == 3) { EXPECT_EQ(j.GetYUVType(), c.type); }
    Coefficients coef;
    ASSERT_TRUE(PeerCoefficients(file, coef));
    ASSERT_EQ(Pixels(j), jpegref::DecodedPicture(coef));

    Picture peer;
    ASSERT_TRUE(PeerDecode(file, peer));
    std::vector<std::uint8_t> ours = TopDownRgb(j);
    if (c.comps == 1) {
        std::vector<std::uint8_t> grey;
        for (std::size_t i = 0; i < ours.size(); i += 3) {
            EXPECT_TRUE(ours[i] == ours[i + 1] && ours[i] == ours[i + 2]);
            grey.push_back(ours[i]);
        }
        ours = grey;
    }
    EXPECT_GE(Psnr(ours, peer.px), 40.0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PeerFiles,
                         ::testing::Values(PeerCase{"s444", 64, 48, 3, 1, 1, 0, YUV_TYPE_444},
                                           PeerCase{"s422", 70, 33, 3, 2, 1, 0, YUV_TYPE_422},
                                           PeerCase{"s422v", 40, 40, 3, 1, 2, 0, YUV_TYPE_422},
                                           PeerCase{"s420", 131, 77, 3, 2, 2, 0, YUV_TYPE_420},
                                           PeerCase{"s411", 99, 20, 3, 4, 1, 0, YUV_TYPE_420},
                                           PeerCase{"grey", 45, 31, 1, 1, 1, 0, YUV_TYPE_NONE},
                                           PeerCase{"s420restart4", 160, 64, 3, 2, 2, 4, YUV_TYPE_420},
                                           PeerCase{"s444restart1", 24, 24, 3, 1, 1, 1, YUV_TYPE_444},
                                           PeerCase{"odd17x9", 17, 9, 3, 2, 2, 0, YUV_TYPE_420},
                                           PeerCase{"one", 1, 1, 3, 1, 1, 0, YUV_TYPE_444}),
                         [](const auto& info) { return std::string(info.param.name); });

Bytes SavedFile(int w, int h, unsigned seed = 1) { return Save(PhotoLike(w, h, seed)); }

std::vector<std::uint8_t> Decoded(const Bytes& file, int expect = 1) {
    CJpeg j;
    EXPECT_EQ(Load(j, file), expect);
    return expect ? Pixels(j) : std::vector<std::uint8_t>{};
}

TEST(JpegDecode, SegmentsInAnyOrderAndGroupingDecodeAlike) {
    const Bytes file = SavedFile(40, 24);
    const std::vector<std::uint8_t> want = Decoded(file);
    ASSERT_EQ(want.size(), 120u * 24);
    const SplitFile s = Split(file);  // DQT, DQT, DHT, SOF, SOS
    ASSERT_EQ(s.segments.size(), 5u);
    const Segment app0{0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}};
    std::vector<Segment> byOne = {app0, s.segments[0], s.segments[1], s.segments[3]};
    for (const Bytes& t : DhtTables(s.segments[2].payload)) byOne.push_back({0xC4, t});
    byOne.push_back(s.segments[4]);
    EXPECT_EQ(Decoded(Join(byOne, s.entropy)), want);

    // Both quantization tables in one segment fill their own slots.
    Bytes both = s.segments[0].payload;
    both.insert(both.end(), s.segments[1].payload.begin(), s.segments[1].payload.end());
    CJpeg j;
    ASSERT_EQ(Load(j, Join({{0xDB, both}, s.segments[2], s.segments[3], s.segments[4]}, s.entropy)), 1);
    EXPECT_EQ(Pixels(j), want);
    EXPECT_TRUE(std::equal(j.m_QT[0], j.m_QT[0] + 64, s.segments[0].payload.begin() + 1));
    EXPECT_TRUE(std::equal(j.m_QT[1], j.m_QT[1] + 64, s.segments[1].payload.begin() + 1));

    // An APP segment of the largest length is skipped whole.
    Segment big{0xE1, Bytes(0xFFFF - 2, 0xFF)};
    std::vector<Segment> withBig = s.segments;
    withBig.insert(withBig.begin(), big);
    EXPECT_EQ(Decoded(Join(withBig, s.entropy)), want);
}

TEST(JpegDecode, TheWalkTakesOneSegmentOfEachKindPerPassForAtMost51Passes) {
    // n comments in front: passes 1..n take them, then DQT; pass n+1 the
    // second DQT; pass n+2 DHT, SOF and SOS.
    const Bytes file = SavedFile(16, 16);
    const SplitFile s = Split(file);
    for (int n : {49, 50}) {
        std::vector<Segment> segs(static_cast<std::size_t>(n), Segment{0xFE, {'x'}});
        segs.insert(segs.end(), s.segments.begin(), s.segments.end());
        EXPECT_EQ(Decoded(Join(segs, s.entropy), n == 49 ? 1 : 0).empty(), n != 49) << n;
    }
}

TEST(JpegDecode, TablesAndRestartIntervalCarryOverToTheNextFile) {
    const Bytes file = SavedFile(32, 16);
    const SplitFile s = Split(file);
    const Bytes noDht = Join({s.segments[0], s.segments[1], s.segments[3], s.segments[4]}, s.entropy);
    Decoded(noDht, 0);  // a fresh object has no Huffman tables

    CJpeg j;
    std::vector<std::uint8_t> dib(96 * 16, 77);
    const std::string path = TempPath("carry.jpg");
    ASSERT_EQ(j.SaveJPG(const_cast<char*>(path.c_str()), 32, 16, dib.data()), 1);
    std::remove(path.c_str());
    EXPECT_EQ(j.m_HT[0].wMaxCode[1], 0xFFFF);  // K.3 has no code of length 1
    ASSERT_EQ(Load(j, noDht), 1);
    EXPECT_EQ(Pixels(j), Decoded(file));

    // A restart interval stays set; a file without RST markers still decodes.
    EncodeOptions o;
    o.restartInterval = 2;
    ASSERT_EQ(Load(j, PeerEncode(PhotoLike(48, 32, 5), o)), 1);
    EXPECT_EQ(j.m_wRestartInterval, 2);
    ASSERT_EQ(Load(j, file), 1);
    EXPECT_EQ(Pixels(j), Decoded(file));
}

TEST(JpegDecode, CopiesOwnTheirBuffers) {
    const Bytes file = SavedFile(24, 8);
    auto* a = new CJpeg;
    ASSERT_EQ(Load(*a, file), 1);
    CJpeg b(*a);
    CJpeg c;
    c = *a;
    const std::vector<std::uint8_t> want = Pixels(*a);
    EXPECT_NE(b.m_pRGB, a->m_pRGB);
    EXPECT_NE(b.m_HT[0].pValue, a->m_HT[0].pValue);
    delete a;
    EXPECT_EQ(Pixels(b), want);
    EXPECT_EQ(Pixels(c), want);
    ASSERT_EQ(Load(b, file), 1);  // tables copied, usable on their own
    EXPECT_EQ(Pixels(b), want);
}

// Broken files: each must give 0 and leave the previous picture untouched.
struct BadCase {
    const char* name;
    Bytes (*make)();
};

Bytes Base() { return SavedFile(24, 16, 9); }
Bytes WithSof(std::size_t at, std::uint8_t v) {
    Bytes f = Base();
    f[560 + at] = v;  // SOF0 starts at 560 in the encoder's layout
    return f;
}

const BadCase kBad[] = {
    {"empty", [] { return Bytes{}; }},
    {"noSoi", [] { Bytes f = Base(); f[1] = 0xD7; return f; }},
    {"cutInHeader", [] { Bytes f = Base(); f.resize(300); return f; }},
    {"cutInScan", [] { Bytes f = Base(); f.resize(f.size() * 2 / 3); return f; }},
    {"progressive", [] { EncodeOptions o; o.progressive = true; return PeerEncode(PhotoLike(16, 16, 1), o); }},
    {"fourComponents", [] { EncodeOptions o; o.cmyk = true; return PeerEncode(PhotoLike(16, 16, 1), o); }},
    {"samplingZero", [] { return WithSof(11, 0x10); }},
    {"samplingNotDividing", [] { Bytes f = WithSof(11, 0x41); f[560 + 14] = 0x31; return f; }},
    {"quantSlotOutOfRange", [] { return WithSof(12, 20); }},
    {"segmentPastEnd", [] { Bytes f = Base(); f[4] = 0xFF; return f; }},
    {"dhtTooManySymbols", [] { return Grey8x8(DhtTable(0, {0, 0, 0, 0, 0, 0, 0, 0, 255, 2}, Bytes(257, 0)), DhtTable(0x10, {1}, {0}), {0}); }},
    {"dhtBadSlot", [] { return Grey8x8(DhtTable(5, {1}, {0}), DhtTable(0x10, {1}, {0}), {0}); }},
    {"tableNeverFilled", [] { return Grey8x8(DhtTable(0, {1}, {0}), DhtTable(0x10, {1}, {0}), {0}, 0x20); }},
    {"codeLongerThan16Bits", [] { return Grey8x8(DhtTable(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, {0}), DhtTable(0x10, {1}, {0}), {0xFF, 0, 0xFF, 0, 0xFF, 0}); }},
    {"acRunPast63", [] { return Grey8x8(DhtTable(0, {1}, {0}), DhtTable(0x10, {1}, {0xF1}), {0, 0, 0, 0}); }},
    {"zrlPast64", [] { return Grey8x8(DhtTable(0, {1}, {0}), DhtTable(0x10, {1}, {0xF0}), {0, 0, 0, 0}); }},
    {"scanOutOfData", [] {
         SplitFile s = Split(Base());
         s.entropy.resize(10);
         s.entropy.insert(s.entropy.end(), {0xFF, 0xD9});
         return Join(s.segments, s.entropy);
     }},
    {"hugeFrameFewBytes", [] { return WithSof(5, 0xFF); }},
    {"colourInThreeScans", [] {
         // Valid baseline data, one component per scan: the first scan alone is not the picture.
         Bytes dqt(65, 1);
         dqt[0] = 0;
         const Bytes sof = {8, 0, 8, 0, 8, 3, 1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0};
         Bytes data = {0x00};
         for (std::uint8_t id : {2, 3}) data.insert(data.end(), {0xFF, 0xDA, 0, 8, 1, id, 0x00, 0, 63, 0, 0x00});
         data.insert(data.end(), {0xFF, 0xD9});
         return Join({{0xDB, dqt}, {0xC0, sof}, {0xC4, DhtTable(0, {1}, {0})}, {0xC4, DhtTable(0x10, {1}, {0})},
                      {0xDA, {1, 1, 0x00, 0, 63, 0}}},
                     data);
     }},
};

class BadFiles : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadFiles, GiveZeroAndKeepThePreviousPicture) {
    const Bytes good = SavedFile(8, 8);
    CJpeg j;
    ASSERT_EQ(Load(j, good), 1);
    const std::vector<std::uint8_t> before = Pixels(j);
    EXPECT_EQ(Load(j, GetParam().make()), 0);
    EXPECT_EQ(Pixels(j), before);
    EXPECT_EQ(std::pair(j.GetWidth(), j.GetHeight()), std::pair(8, 8));
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadFiles, ::testing::ValuesIn(kBad),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegDecode, ValidTinyTablesDecode) {
    // One code per table, all-zero DC and an immediate EOB: a mid-grey block.
    const Bytes f = Grey8x8(DhtTable(0, {1}, {0}), DhtTable(0x10, {1}, {0x00}), {0x00});
    CJpeg j;
    ASSERT_EQ(Load(j, f), 1);
    EXPECT_EQ(Pixels(j), std::vector<std::uint8_t>(24 * 8, 128));
}

}  // namespace
