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
    struct Obj { int number, w, h; std::vector<int> pixels; int transparent = 0; };
    std::vector<Obj> objects{};
    std::vector<Bytes> items{};

    Bytes Build() const {
        SafWriter w;
        w.Header({SafImageHeader(width, height, bpp), SafAnimation(1)});
        for (const Obj& o : objects) w.Object(o.number, o.w, o.h, bpp, o.pixels, o.transparent);
        w.FrameItems(background, items);
        return w.End().Build();
    }
    Pixels Render() const { return SafRig().PrepareAndRender(Build()); }
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

struct Fill { int bpp, background; std::uint8_t byte; };

class SafBackground : public ::testing::TestWithParam<Fill> {};

TEST_P(SafBackground, FillsEveryByteOfTheSlot) {
    EXPECT_EQ((Scene{.bpp = GetParam().bpp, .background = GetParam().background}.Render()), Pixels(32, GetParam().byte));
}

INSTANTIATE_TEST_SUITE_P(Depths, SafBackground,
                         ::testing::Values(Fill{8, 7, 0x07}, Fill{8, 200, 200}, Fill{4, 2, 0x22}, Fill{4, 15, 0xFF},
                                           Fill{2, 1, 0x55}, Fill{2, 2, 0xAA}, Fill{2, 3, 0xFF}, Fill{1, 0, 0x00},
                                           Fill{1, 1, 0xFF}));

Scene Ramp8(int w, int h, SafPlace pl, int width = 8, int height = 4) {
    std::vector<int> px(w * h);
    for (int i = 0; i < w * h; ++i) px[i] = 1 + i % 35;
    return {.width = width, .height = height, .objects = {{0, w, h, px}}, .items = {SafPlaceItem(pl)}};
}

TEST(SafPlacement, PositionsMirrorsFlipsScalesTurnsAndClips) {
    struct Case {
        const char* name;
        int w, h, width, height;
        SafPlace pl;
        const char* picture;
    };
    const Case cases[] = {
        {"plain", 3, 2, 8, 4, {.x = 1, .y = 1}, "........|.123....|.456....|........|"},
        {"mirror", 3, 2, 8, 4, {.x = 1, .y = 1, .mirror = true}, "........|.321....|.654....|........|"},
        {"flip", 3, 2, 8, 4, {.x = 1, .y = 1, .flip = true}, "........|.456....|.123....|........|"},
        {"negative", 3, 2, 8, 4, {.x = -2}, "3.......|6.......|........|........|"},
        {"ten left", 12, 1, 8, 4, {.x = -10}, "bc......|........|........|........|"},
        // A 9-pixel object at half size is 5 pixels: columns 0, 2, 4, 6, 8.
        {"shrink", 9, 1, 9, 1, {.hMode = 1, .hFactor = 128}, "13579....|"},
        {"own size", 3, 1, 8, 1, {.hMode = 2, .hFactor = 0}, "123.....|"},
        // (3 - 1) * 2 + 1 = 5 columns, (2 - 1) * 2 + 1 = 3 rows.
        {"twice", 3, 2, 8, 4, {.hMode = 2, .hFactor = 128, .vMode = 2, .vFactor = 128},
         "11223...|11223...|44556...|........|"},
        // Turned a quarter, the first row becomes the right column; the box stays at the origin.
        {"quarter", 3, 2, 6, 5, {.x = 2, .y = 1, .angle = 64}, "......|..41..|..52..|..63..|......|"},
        {"half", 3, 2, 6, 4, {.x = 2, .y = 1, .angle = 128}, "......|..654.|..321.|......|"},
        {"clip", 4, 3, 8, 4, {.x = 1, .clip = {2, 3, 1, 3}}, "........|..67....|..ab....|........|"},
        {"clip outside", 4, 3, 8, 4, {.x = 1, .clip = {6, 7, 1, 3}}, "........|........|........|........|"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Picture(Ramp8(c.w, c.h, c.pl, c.width, c.height).Render(), c.width), c.picture) << c.name;
}

TEST(SafPlacement, ColourKeyByDepth) {
    for (int bpp : {8, 4}) {
        Scene sc{.width = 4, .height = 1, .bpp = bpp, .background = 1, .objects = {{0, 4, 1, {5, 7, 5, 3}, 5}},
                 .items = {SafPlaceItem({.mode = 2})}};
        EXPECT_EQ(sc.Render(), (bpp == 8 ? Pixels{1, 7, 1, 3} : Pixels{0x17, 0x13, 0x11, 0x11})) << bpp;
        sc.items = {SafPlaceItem(SafPlace{})};
        EXPECT_EQ(sc.Render(), (bpp == 8 ? Pixels{5, 7, 5, 3} : Pixels{0x57, 0x53, 0x11, 0x11})) << bpp;
    }
}

TEST(SafPlacement, AlphaBlendThroughTheBlockStore) {
    struct Case { int alpha, frame, object; std::uint8_t expected; };
    // Hand-checked: weights alpha + 1 and 255 - alpha, offsets 16, 16, 32.
    const Case cases[] = {
        {255, 0xFF, 0x00, 0x00},  // object only, offsets too small to round up
        {255, 0x00, 0x49, 0x49},
        {0, 0xFF, 0x00, 0xFF},    // object weight 1/256
        {127, 0xE0, 0x03, 0x82},  // red half, blue half
        {127, 0x00, 0x04, 0x04},  // green 32 x 128 / 256 + 16 reaches 32 only at weight alpha + 1
    };
    for (const Case& c : cases) {
        const Scene sc{.width = 2, .height = 1, .background = c.frame, .objects = {{0, 2, 1, {c.object, 0x77}, 0x77}},
                       .items = {SafPlaceItem({.mode = 2, .alpha = c.alpha})}};
        EXPECT_EQ(sc.Render(), (Pixels{c.expected, static_cast<std::uint8_t>(c.frame)})) << c.alpha;
    }
}

TEST(SafPlacement, PackedDepthsAndTheirModes) {
    // 1 bit, 8 x 3: a closed 3 x 3 outline with an empty middle.
    std::vector<int> ring(24, 0);
    for (int i : {0, 1, 2, 8, 10, 16, 17, 18}) ring[i] = 1;
    auto scene = [&ring](int mode, int background) {
        Pixels p = Scene{.width = 8, .height = 3, .bpp = 1, .background = background, .objects = {{0, 8, 3, ring}},
                         .items = {SafPlaceItem({.mode = mode})}}
                       .Render();
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
    Scene sc{.objects = {{0, 2, 2, {1, 2, 3, 4}}}, .items = {SafItem(0, {200, 0, 0, 0, 0})}};  // object number above 127
    EXPECT_TRUE(sc.Render().empty());
    sc.items = {SafItem(0, {9, 0, 0, 0, 0})};  // never defined
    EXPECT_EQ(sc.Render(), Pixels(32, 0));
    sc.items = {SafItem(0, {0, 0x02, 0, 0, 0, 1})};  // clip announced, item too short
    EXPECT_EQ(sc.Render(), Pixels(32, 0));
    // An item whose length runs past the frame chunk fails the frame.
    EXPECT_TRUE(SafRig()
                    .PrepareAndRender(SafWriter().Header({SafImageHeader(8, 4, 8), SafAnimation(1)}).Chunk(6, {0, 1, 1, 9, 0, 0}).End().Build())
                    .empty());
}

TEST(SafMasks, RectangleMaskAtEveryDepth) {
    struct Case { int bpp; Bytes params; Pixels expected; };
    const Case cases[] = {
        {8, {1, 1, 2, 2, 9}, {9, 9, 9, 9, 9, 0, 0, 9, 9, 0, 0, 9}},
        {8, {1, 0, 1, 3, 9}, Pixels(12, 0)},  // x0 = x1 draws nothing
        {8, {2, 0, 1, 3, 9}, Pixels(12, 0)},
        {8, {2, 1, 200, 200, 9}, {9, 9, 9, 9, 9, 9, 0, 0, 9, 9, 0, 0}},  // pulled to the last column and row
        {4, {1, 1, 2, 2, 9}, {0x99, 0x99, 0x90, 0x09, 0x90, 0x09, 0, 0, 0, 0, 0, 0}},
        {1, {1, 1, 2, 2, 1}, {0xF9, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases)
        EXPECT_EQ((Scene{.width = 4, .height = 3, .bpp = c.bpp, .items = {SafItem(19, c.params)}}.Render()), c.expected) << c.bpp;
}

TEST(SafMasks, InvertAndShapesOnlyWhereTheDepthAllows) {
    Scene sc{.width = 4, .height = 2, .bpp = 4, .background = 3,
             .items = {SafItem(1, {0, 0, 3, 1, 9, 1, 0, 0}),  // a line: passed over at 4 bits
                       SafItem(17, {0, 1, 3, 1, 9}),          // half-plane: passed over
                       SafItem(20, {})}};
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
    EXPECT_EQ(std::make_pair(rig.parser.Info().delays[0], rig.parser.Info().loop), std::make_pair(250u, 1u));
    rig.parser.SetWorkAreas(rig.pool.data(), rig.pool.size(), rig.store.data(), rig.store.size());
    EXPECT_EQ(rig.PrepareAndRender(s), (Pixels{0xDA, 0x1F, 0xE3, 0xDA, 0xDA, 0xFC, 0xDA, 0xDA}));
}

}  // namespace
}  // namespace handpix::test
