// Frame rendering through the parser: backgrounds, placements, masks.
#include <gtest/gtest.h>

#include <string>

#include "tests/saf/SafTestSupport.h"

namespace handpix::test {
namespace {

using Pixels = std::vector<std::uint8_t>;

// A one-frame stream of the given size and depth with objects and items.
struct Scene {
    int width = 8, height = 4, bpp = 8, background = 0;
    struct Obj {
        int number, w, h;
        std::vector<int> pixels;
        int transparent = 0;
    };
    std::vector<Obj> objects;
    std::vector<Bytes> items;

    Bytes Build() const {
        SafWriter w;
        w.Header({SafImageHeader(width, height, bpp), SafAnimation(1)});
        for (const Obj& o : objects) w.Object(o.number, o.w, o.h, bpp, o.pixels, o.transparent);
        w.FrameItems(background, items);
        return w.End().Build();
    }
    Pixels Render() const {
        SafRig rig;
        const Bytes s = Build();
        return rig.PrepareAndRender(s);
    }
};

// Reads the frame as rows of characters: '.' for 0, digits and letters for values.
std::string Picture(const Pixels& p, int width) {
    std::string out;
    for (std::size_t i = 0; i < p.size(); ++i) {
        out += p[i] == 0 ? '.' : (p[i] < 10 ? static_cast<char>('0' + p[i]) : static_cast<char>('a' + p[i] - 10));
        if ((i + 1) % width == 0) out += '|';
    }
    return out;
}

struct Fill {
    int bpp, background;
    std::uint8_t byte;
};

class SafBackground : public ::testing::TestWithParam<Fill> {};

TEST_P(SafBackground, FillsEveryByteOfTheSlot) {
    Scene sc;
    sc.bpp = GetParam().bpp;
    sc.background = GetParam().background;
    EXPECT_EQ(sc.Render(), Pixels(32, GetParam().byte));
}

INSTANTIATE_TEST_SUITE_P(Depths, SafBackground,
                         ::testing::Values(Fill{8, 7, 0x07}, Fill{8, 200, 200}, Fill{4, 2, 0x22}, Fill{4, 15, 0xFF},
                                           Fill{2, 1, 0x55}, Fill{2, 2, 0xAA}, Fill{2, 3, 0xFF}, Fill{1, 0, 0x00},
                                           Fill{1, 1, 0xFF}));

Scene Ramp8(int w, int h, SafPlace pl, int width = 8, int height = 4) {
    Scene sc;
    sc.width = width;
    sc.height = height;
    std::vector<int> px(w * h);
    for (int i = 0; i < w * h; ++i) px[i] = 1 + i % 35;
    sc.objects.push_back({0, w, h, px});
    sc.items.push_back(SafPlaceItem(pl));
    return sc;
}

TEST(SafPlacement, PlainMirrorFlipAndNegativePosition) {
    struct Case {
        const char* name;
        SafPlace pl;
        const char* picture;
    };
    SafPlace plain;
    plain.x = 1;
    plain.y = 1;
    SafPlace mirror = plain;
    mirror.mirror = true;
    SafPlace flip = plain;
    flip.flip = true;
    SafPlace left;
    left.x = -2;
    const Case cases[] = {
        {"plain", plain, "........|.123....|.456....|........|"},
        {"mirror", mirror, "........|.321....|.654....|........|"},
        {"flip", flip, "........|.456....|.123....|........|"},
        {"negative", left, "3.......|6.......|........|........|"},
    };
    for (const Case& c : cases) EXPECT_EQ(Picture(Ramp8(3, 2, c.pl).Render(), 8), c.picture) << c.name;
}

TEST(SafPlacement, TenPixelsLeftOfTheFrameIsClipped) {
    SafPlace pl;
    pl.x = -10;
    pl.y = 0;
    EXPECT_EQ(Picture(Ramp8(12, 1, pl).Render(), 8), "bc......|........|........|........|");
}

TEST(SafPlacement, Scaling) {
    SafPlace shrink;
    shrink.hMode = 1;
    shrink.hFactor = 128;
    // A 9-pixel object at half size is 5 pixels: columns 0, 2, 4, 6, 8.
    EXPECT_EQ(Picture(Ramp8(9, 1, shrink, 9, 1).Render(), 9), "13579....|");
    SafPlace own;
    own.hMode = 2;
    own.hFactor = 0;
    EXPECT_EQ(Picture(Ramp8(3, 1, own, 8, 1).Render(), 8), "123.....|");
    SafPlace twice;
    twice.hMode = 2;
    twice.hFactor = 128;
    twice.vMode = 2;
    twice.vFactor = 128;
    // (3 - 1) * 2 + 1 = 5 columns, (2 - 1) * 2 + 1 = 3 rows.
    EXPECT_EQ(Picture(Ramp8(3, 2, twice).Render(), 8), "11223...|11223...|44556...|........|");
}

TEST(SafPlacement, QuarterTurnKeepsTheBoxAtTheOrigin) {
    SafPlace pl;
    pl.x = 2;
    pl.y = 1;
    pl.angle = 64;
    // The 3 x 2 ramp turned a quarter: its first row becomes the right column.
    EXPECT_EQ(Picture(Ramp8(3, 2, pl, 6, 5).Render(), 6), "......|..41..|..52..|..63..|......|");
    pl.angle = 128;
    EXPECT_EQ(Picture(Ramp8(3, 2, pl, 6, 4).Render(), 6), "......|..654.|..321.|......|");
}

TEST(SafPlacement, ClipRectangle) {
    SafPlace pl;
    pl.x = 1;
    pl.y = 0;
    pl.clip[0] = 2;
    pl.clip[1] = 3;
    pl.clip[2] = 1;
    pl.clip[3] = 3;
    EXPECT_EQ(Picture(Ramp8(4, 3, pl).Render(), 8), "........|..67....|..ab....|........|");
    pl.clip[0] = 6;
    pl.clip[1] = 7;
    EXPECT_EQ(Picture(Ramp8(4, 3, pl).Render(), 8), std::string("........|").append("........|........|........|"));
}

TEST(SafPlacement, ColourKeyByDepth) {
    for (int bpp : {8, 4}) {
        Scene sc;
        sc.bpp = bpp;
        sc.width = 4;
        sc.height = 1;
        sc.background = 1;
        sc.objects.push_back({0, 4, 1, {5, 7, 5, 3}, 5});
        SafPlace keyed;
        keyed.mode = 2;
        sc.items.push_back(SafPlaceItem(keyed));
        const Pixels p = sc.Render();
        const Pixels expected = bpp == 8 ? Pixels{1, 7, 1, 3} : Pixels{0x17, 0x13, 0x11, 0x11};
        EXPECT_EQ(p, expected) << bpp;
        sc.items = {SafPlaceItem(SafPlace{})};
        const Pixels plain = bpp == 8 ? Pixels{5, 7, 5, 3} : Pixels{0x57, 0x53, 0x11, 0x11};
        EXPECT_EQ(sc.Render(), plain) << bpp;
    }
}

TEST(SafPlacement, AlphaBlendThroughTheBlockStore) {
    struct Case {
        int alpha, frame, object;
        std::uint8_t expected;
    };
    // Hand-checked: weights alpha + 1 and 255 - alpha, offsets 16, 16, 32.
    const Case cases[] = {
        {255, 0xFF, 0x00, 0x00},  // object only, offsets too small to round up
        {255, 0x00, 0x49, 0x49},
        {0, 0xFF, 0x00, 0xFF},    // object weight 1/256
        {127, 0xE0, 0x03, 0x82},  // red half, blue half
    };
    for (const Case& c : cases) {
        Scene sc;
        sc.width = 2;
        sc.height = 1;
        sc.background = c.frame;
        sc.objects.push_back({0, 2, 1, {c.object, 0x77}, 0x77});
        SafPlace pl;
        pl.mode = 2;
        pl.alpha = c.alpha;
        sc.items.push_back(SafPlaceItem(pl));
        EXPECT_EQ(sc.Render(), (Pixels{c.expected, static_cast<std::uint8_t>(c.frame)})) << c.alpha;
    }
}

TEST(SafPlacement, PackedDepthsAndTheirModes) {
    // 1 bit, 8 x 3: a closed 3 x 3 outline with an empty middle.
    auto scene = [](int mode, int background) {
        Scene sc;
        sc.bpp = 1;
        sc.width = 8;
        sc.height = 3;
        sc.background = background;
        std::vector<int> ring(24, 0);
        for (int i : {0, 1, 2, 8, 10, 16, 17, 18}) ring[i] = 1;
        sc.objects.push_back({0, 8, 3, ring});
        SafPlace pl;
        pl.mode = mode;
        sc.items.push_back(SafPlaceItem(pl));
        Pixels p = sc.Render();
        p.resize(3);
        return p;
    };
    EXPECT_EQ(scene(0, 1), (Pixels{0xE0, 0xA0, 0xE0}));
    // Mode 3 ORs the object into the frame.
    EXPECT_EQ(scene(3, 0), (Pixels{0xE0, 0xA0, 0xE0}));
    EXPECT_EQ(scene(3, 1), (Pixels{0xFF, 0xFF, 0xFF}));
    // Mode 1 replaces the frame inside the outline, its empty middle too,
    // and keeps the frame outside it.
    EXPECT_EQ(scene(1, 1), (Pixels{0xFF, 0xBF, 0xFF}));
    // Other modes reach the scratch areas only.
    EXPECT_EQ(scene(2, 0), (Pixels{0, 0, 0}));
}

TEST(SafPlacement, BadPlacementsFailOrDrawNothing) {
    Scene sc;
    sc.objects.push_back({0, 2, 2, {1, 2, 3, 4}});
    sc.items.push_back(SafItem(0, {200, 0, 0, 0, 0}));  // object number above 127
    EXPECT_TRUE(sc.Render().empty());
    sc.items = {SafItem(0, {9, 0, 0, 0, 0})};  // never defined
    EXPECT_EQ(sc.Render(), Pixels(32, 0));
    sc.items = {SafItem(0, {0, 0x02, 0, 0, 0, 1})};  // clip announced, item too short
    EXPECT_EQ(sc.Render(), Pixels(32, 0));
    // An item whose length runs past the frame chunk fails the frame.
    SafWriter w;
    w.Header({SafImageHeader(8, 4, 8), SafAnimation(1)});
    const Bytes s = w.Chunk(6, {0, 1, 1, 9, 0, 0}).End().Build();
    SafRig rig;
    EXPECT_TRUE(rig.PrepareAndRender(s).empty());
}

TEST(SafMasks, RectangleMaskAtEveryDepth) {
    struct Case {
        int bpp;
        Bytes params;
        Pixels expected;
    };
    const Case cases[] = {
        {8, {1, 1, 2, 2, 9}, {9, 9, 9, 9, 9, 0, 0, 9, 9, 0, 0, 9}},
        {8, {1, 0, 1, 3, 9}, Pixels(12, 0)},  // x0 = x1 draws nothing
        {8, {2, 0, 1, 3, 9}, Pixels(12, 0)},
        {8, {2, 1, 200, 200, 9}, {9, 9, 9, 9, 9, 9, 0, 0, 9, 9, 0, 0}},  // pulled to the last column and row
        {4, {1, 1, 2, 2, 9}, {0x99, 0x99, 0x90, 0x09, 0x90, 0x09, 0, 0, 0, 0, 0, 0}},
        {1, {1, 1, 2, 2, 1}, {0xF9, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        Scene sc;
        sc.bpp = c.bpp;
        sc.width = 4;
        sc.height = 3;
        sc.items.push_back(SafItem(19, c.params));
        EXPECT_EQ(sc.Render(), c.expected) << c.bpp;
    }
}

TEST(SafMasks, InvertAndShapesOnlyWhereTheDepthAllows) {
    Scene sc;
    sc.bpp = 4;
    sc.width = 4;
    sc.height = 2;
    sc.background = 3;
    sc.items.push_back(SafItem(1, {0, 0, 3, 1, 9, 1, 0, 0}));   // a line: passed over at 4 bits
    sc.items.push_back(SafItem(17, {0, 1, 3, 1, 9}));           // half-plane: passed over
    sc.items.push_back(SafItem(20, {}));
    EXPECT_EQ(sc.Render(), Pixels(8, 0xCC));
    sc.bpp = 8;
    sc.items.pop_back();
    const Pixels p = sc.Render();
    EXPECT_EQ(p[0], 9);  // the line's first pixel
    EXPECT_EQ(p[1], 9);  // row 0 lies above the half-plane's edge
}

TEST(SafWorkedExample, TheStreamOfTheFormatNote) {
    const Bytes s = {0x53, 0x41, 0x46, 0x00, 0x01, 0x00, 0x46, 0x07, 0x00, 0x02, 0x00, 0x11, 0x01, 0x06,
                     0x04, 0x02, 0x08, 0x00, 0x00, 0x01, 0x03, 0x03, 0x01, 0x00, 0x00, 0x0A, 0x02, 0x00,
                     0xFA, 0x04, 0x00, 0x07, 0x00, 0x02, 0x02, 0x01, 0xFF, 0x00, 0x0C, 0x00, 0x0C, 0x78,
                     0xDA, 0x7B, 0x20, 0xC3, 0xFC, 0x1F, 0x00, 0x04, 0xDD, 0x01, 0xFF, 0x06, 0x00, 0x0B,
                     0x25, 0x02, 0x00, 0x05, 0x00, 0x00, 0x02, 0x01, 0x00, 0x14, 0x00, 0x08, 0x00, 0x00};
    SafRig rig;
    ASSERT_EQ(rig.Probe(s), SafEvent::info);
    EXPECT_EQ(rig.parser.Info().delays[0], 250u);
    EXPECT_EQ(rig.parser.Info().loop, 1u);
    rig.parser.SetWorkAreas(rig.pool.data(), rig.pool.size(), rig.store.data(), rig.store.size());
    EXPECT_EQ(rig.PrepareAndRender(s), (Pixels{0xDA, 0x1F, 0xE3, 0xDA, 0xDA, 0xFC, 0xDA, 0xDA}));
}

}  // namespace
}  // namespace handpix::test
