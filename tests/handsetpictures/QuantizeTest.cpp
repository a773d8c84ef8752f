// Colour reduction to the handset depths: the error bounds with and without
// error diffusion, exact results for pictures already in the target colours,
// the transparent value, and fitting sizes.
#include <gtest/gtest.h>

#include <cstdlib>

#include "handpix/imagefiles/HandsetQuantize.h"

namespace handpix {
namespace {

RgbaFrames OneFrame(int w, int h, std::vector<Rgba> px = {}) {
    RgbaFrames in;
    in.width = w, in.height = h;
    in.frames.push_back(std::move(px));
    return in;
}

// A 64 x 48 picture of smooth ramps in all three channels.
RgbaFrames Ramps() {
    RgbaFrames in = OneFrame(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            in.frames[0].push_back({static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5 + 7),
                                    static_cast<std::uint8_t>((x + y) * 2 + 3), 255});
    return in;
}

// The colour a reduced value shows, by the target's own list or its fields.
Rgb ShownAs(const ColourTarget& t, const HandsetPixels& p, std::uint32_t v) {
    if (!p.palette.empty()) return ExpandRgb565(p.palette[v]);
    if (!t.shown.empty()) return t.shown[v];
    if (t.bits == 16) return ExpandRgb565(static_cast<std::uint16_t>(v));
    return ExpandRgb332(static_cast<std::uint8_t>(v));
}

int Luma(int r, int g, int b) { return (77 * r + 150 * g + 29 * b + 128) >> 8; }

TEST(Quantize, ErrorBoundsWithAndWithoutDiffusion) {
    // Per pixel: without diffusion half the widest gap between two shown
    // levels, with it the widest gap; the frame's mean stays within `mean`.
    const struct Case { const char* name; ColourTarget t; int plain[3], diffused[3]; double mean; } cases[] = {
        {"rgb565", Rgb565Target(), {7, 3, 7}, {15, 7, 15}, 0.5},
        {"rgb332", Rgb332Target(), {31, 31, 63}, {63, 63, 127}, 2.0},
        {"grey2 sni", GreyTarget(2, true), {64, 64, 64}, {128, 128, 128}, 2.0},
        {"grey1 img", GreyTarget(1, false), {127, 127, 127}, {255, 255, 255}, 3.0},
    };
    const RgbaFrames in = Ramps();
    for (const Case& c : cases) {
        for (const bool dither : {false, true}) {
            const HandsetPixels p = ReduceColours(in, c.t, dither);
            ASSERT_EQ(p.frames.size(), 1u);
            double total[3] = {};
            for (std::size_t i = 0; i < p.frames[0].size(); ++i) {
                const Rgba& s = in.frames[0][i];
                const Rgb got = ShownAs(c.t, p, p.frames[0][i]);
                int want[3] = {s.r, s.g, s.b};
                if (c.t.grey) want[0] = want[1] = want[2] = Luma(s.r, s.g, s.b);
                const int shown[3] = {got.r, got.g, got.b};
                for (int k = 0; k < 3; ++k) {
                    ASSERT_LE(std::abs(shown[k] - want[k]), dither ? c.diffused[k] : c.plain[k]) << c.name << " " << dither << " pixel " << i;
                    total[k] += shown[k] - want[k];
                }
            }
            if (!dither) continue;
            for (double t : total) EXPECT_LE(std::abs(t / static_cast<double>(p.frames[0].size())), c.mean) << c.name;
        }
    }
}

TEST(Quantize, DiffusionKeepsTheMeanOfAFlatColour) {
    // Colours between two shown levels: diffusion mixes the levels so that
    // the mean is the colour; every part of the error must be passed on.
    const struct Case { const char* name; ColourTarget t; Rgba colour; } cases[] = {
        {"rgb332", Rgb332Target(), {100, 200, 40, 255}}, {"rgb565", Rgb565Target(), {101, 30, 250, 255}},
        {"grey2", GreyTarget(2, true), {150, 150, 150, 255}}, {"grey1", GreyTarget(1, false), {90, 90, 90, 255}}};
    for (const Case& c : cases) {
        const RgbaFrames in = OneFrame(64, 64, std::vector<Rgba>(64 * 64, c.colour));
        const HandsetPixels p = ReduceColours(in, c.t, true);
        double sum[3] = {};
        for (std::uint32_t v : p.frames[0]) {
            const Rgb got = ShownAs(c.t, p, v);
            sum[0] += got.r, sum[1] += got.g, sum[2] += got.b;
        }
        const int want[3] = {c.colour.r, c.colour.g, c.colour.b};
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(sum[k] / (64 * 64), want[k], 0.5) << c.name << " channel " << k;
    }
}

TEST(Quantize, ColoursAlreadyShownComeBackExactly) {
    RgbaFrames in = OneFrame(16, 16);
    for (int i = 0; i < 256; ++i) {
        // 200 colours in distinct 5-5-5 bins, each a 5-6-5 colour.
        const Rgb c = ExpandRgb565(static_cast<std::uint16_t>((i % 200) * 327 & 0xF7DF));
        in.frames[0].push_back({c.r, c.g, c.b, 255});
    }
    for (const ColourTarget& t : {Rgb565Target(), OwnPaletteTarget()}) {
        const HandsetPixels p = ReduceColours(in, t, true);
        for (std::size_t i = 0; i < 256; ++i) {
            const Rgb got = ShownAs(t, p, p.frames[0][i]);
            const Rgba& want = in.frames[0][i];
            ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << t.bits << " " << i;
        }
        EXPECT_EQ(p.transparent, -1);
    }
}

TEST(Quantize, TransparentPixelsTakeAValueOfTheirOwn) {
    const struct Case { const char* name; ColourTarget t; int key; } cases[] = {
        {"rgb565", Rgb565Target(), 0xF81F}, {"rgb332", Rgb332Target(), 0xE3}, {"palette", OwnPaletteTarget(), 255}};
    for (const Case& c : cases) {
        // Opaque magenta (the key's own colour) beside a pixel of alpha 127 and one of 128.
        const RgbaFrames in = OneFrame(3, 1, {{255, 0, 255, 255}, {10, 20, 30, 127}, {10, 20, 30, 128}});
        const HandsetPixels p = ReduceColours(in, c.t, false);
        EXPECT_EQ(p.transparent, c.key) << c.name;
        EXPECT_NE(p.frames[0][0], static_cast<std::uint32_t>(c.key)) << c.name;
        EXPECT_EQ(p.frames[0][1], static_cast<std::uint32_t>(c.key)) << c.name;
        EXPECT_NE(p.frames[0][2], static_cast<std::uint32_t>(c.key)) << c.name;
    }
    // Grey depths have no transparent value: the pixel is laid over white.
    const RgbaFrames clear = OneFrame(1, 1, {{0, 0, 0, 0}});
    const HandsetPixels g = ReduceColours(clear, GreyTarget(1, true), true);
    EXPECT_EQ(g.transparent, -1);
    EXPECT_EQ(g.frames[0][0], 0u);  // white in an SNI file
}

TEST(Quantize, FitKeepsTheAspect) {
    const struct Case { int w, h, maxW, maxH, outW, outH; } cases[] = {
        {100, 50, 178, 160, 100, 50}, {356, 160, 178, 160, 178, 80}, {100, 400, 178, 160, 40, 160},
        {1000, 1, 178, 160, 178, 1}, {178, 161, 178, 160, 176, 160},
    };
    for (const Case& c : cases) {
        int w = 0, h = 0;
        FitSize(c.w, c.h, c.maxW, c.maxH, w, h);
        EXPECT_EQ(w, c.outW) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.outH) << c.w << "x" << c.h;
    }
}

}  // namespace
}  // namespace handpix
