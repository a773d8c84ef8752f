#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "handpix/enhance/LuxJpeg.h"
#include "handpix/platform/core/File.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/EnhanceFiles.h"

namespace {
using Lux = CLuxJpeg;

struct ImagePtr {
    LUX_Image* p;
    explicit ImagePtr(LUX_Image* i) : p(i) {}
    ~ImagePtr() { Lux::LUX_FreeImage(p); }
    LUX_Image* operator->() const { return p; }
};

LUX_Image* Filled(unsigned w, unsigned h, unsigned c, unsigned char v) {
    LUX_Image* im = Lux::LUX_AllocImage(w, h, c);
    for (unsigned y = 0; y < h; ++y) std::memset(im->ppRows[y], v, static_cast<size_t>(w) * c);
    return im;
}

std::vector<std::uint8_t> Bytes(const LUX_Image* im) {
    std::vector<std::uint8_t> v;
    for (unsigned y = 0; y < im->ulHeight; ++y)
        v.insert(v.end(), im->ppRows[y], im->ppRows[y] + static_cast<size_t>(im->ulWidth) * im->ulChannels);
    return v;
}

// A picture object without whatever "Mask.jpg" lies beside the test program.
struct NoMask : Lux {
    NoMask() { LUX_LoadMask(nullptr); }
};

std::vector<std::uint8_t> Noise(int w, int h, int c, unsigned seed) {
    std::vector<std::uint8_t> v(static_cast<size_t>(w * h * c));
    std::mt19937 g(seed);
    for (auto& b : v) b = static_cast<std::uint8_t>(g());
    return v;
}

char* Path(std::string& s) { return s.data(); }
LUX_Image* FromBytes(unsigned w, unsigned h, const std::vector<std::uint8_t>& v) {
    LUX_Image* im = Lux::LUX_AllocImage(w, h, 3);
    for (unsigned y = 0; y < h; ++y) std::memcpy(im->ppRows[y], v.data() + y * w * 3, w * 3);
    return im;
}
std::string PutJpeg(const enhance_test::TempDir& dir, const char* name, int w, int h, int c,
                    const std::vector<std::uint8_t>& px, int quality = 95) {
    std::string path = dir.File(name);
    enhance_test::WriteFile(path, enhance_test::JpegBytes(w, h, c, px, quality));
    return path;
}
}  // namespace

TEST(LuxImage, OneBlockRowsInvertAndSwap) {
    ImagePtr im(Lux::LUX_AllocImage(2, 1, 3));
    ASSERT_NE(im.p, nullptr);
    EXPECT_EQ(im->ppRows[0], reinterpret_cast<unsigned char*>(im->ppRows) + sizeof(unsigned char*));
    Lux::LUX_FreeImage(nullptr);
    EXPECT_EQ(Lux::LUX_AllocImage(1u << 20, 1u << 20, 3), nullptr);
    const unsigned char px[] = {1, 2, 3, 4, 5, 6};
    std::memcpy(im->ppRows[0], px, 6);
    Lux::LUX_InvertImage(im.p);
    EXPECT_EQ(im->ppRows[0][0], 254);
    Lux::LUX_InvertImage(im.p);
    Lux::LUX_SwapRGBOrder(im.p);
    EXPECT_EQ(Bytes(im.p), (std::vector<std::uint8_t>{3, 2, 1, 6, 5, 4}));
}

TEST(LuxJpegFile, ColourLoadsBlueFirstAndSaveRoundTrips) {
    enhance_test::TempDir dir("lux_roundtrip");
    std::vector<std::uint8_t> rgb;
    for (int i = 0; i < 16 * 8; ++i) rgb.insert(rgb.end(), {200, 100, 30});
    std::string in = PutJpeg(dir, "in.jpg", 16, 8, 3, rgb, 100), out = dir.File("out.jpg");
    ImagePtr im(Lux::LUX_LoadJPEG(Path(in)));
    ASSERT_NE(im.p, nullptr);
    EXPECT_EQ(im->ulChannels, 3u);
    EXPECT_NEAR(im->ppRows[3][0], 30, 3);   // blue
    EXPECT_NEAR(im->ppRows[3][2], 200, 3);  // red
    const auto before = Bytes(im.p);
    ASSERT_EQ(Lux::LUX_SaveJPEG(im.p, Path(out)), 1u);
    EXPECT_EQ(Bytes(im.p), before);
    enhance_test::DecodedJpeg d;
    ASSERT_TRUE(enhance_test::DecodeJpeg(enhance_test::ReadFile(out), d));
    EXPECT_FALSE(d.progressive);
    EXPECT_EQ(d.quant0, enhance_test::LuminanceTable(80));
    ImagePtr again(Lux::LUX_LoadJPEG(Path(out)));
    ASSERT_NE(again.p, nullptr);
    EXPECT_EQ(std::pair(again->ulWidth, again->ulHeight), std::pair(16u, 8u));
    EXPECT_NEAR(again->ppRows[3][0], 30, 4);
    EXPECT_NEAR(again->ppRows[3][2], 200, 4);
}

TEST(LuxJpegFile, WhatDoesNotLoad) {
    enhance_test::TempDir dir("lux_bad");
    std::string grey = PutJpeg(dir, "g.jpg", 8, 8, 1, std::vector<std::uint8_t>(64, 7));
    std::string cmyk = PutJpeg(dir, "k.jpg", 8, 8, 4, std::vector<std::uint8_t>(256, 7));
    std::string junk = dir.File("j.jpg"), missing = dir.File("none.jpg");
    auto truncated = enhance_test::JpegBytes(64, 64, 3, Noise(64, 64, 3, 1));
    truncated.resize(truncated.size() / 2);
    enhance_test::WriteFile(junk, truncated);
    for (std::string* p : {&grey, &cmyk, &missing}) EXPECT_EQ(Lux::LUX_LoadJPEG(Path(*p)), nullptr) << *p;
    // A truncated file decodes what is there (libjpeg pads and warns).
    ImagePtr part(Lux::LUX_LoadJPEG(Path(junk)));
    EXPECT_NE(part.p, nullptr);
    enhance_test::WriteFile(junk, {0xFF, 0xD8, 0xFF, 0xC0, 0, 1});
    EXPECT_EQ(Lux::LUX_LoadJPEG(Path(junk)), nullptr);
    EXPECT_EQ(Lux::LUX_LoadJPEG(nullptr), nullptr);
}

TEST(LuxJpegFile, FailedSaveRestoresTheByteOrder) {
    auto noise = Noise(256, 256, 3, 9);
    ImagePtr im(FromBytes(256, 256, noise));
    // Writing fails once the first output buffer is flushed, mid-rows, as on a full disk.
    enhance_test::TempDir dir("lux_full");
    std::string target = dir.File("x.jpg"), full = "/dev/full", nowhere = "/nonexistent/handpix/x.jpg";
    const auto r = handpix::test::RunInChild(
        [&] { return Lux::LUX_SaveJPEG(im.p, Path(target)) == 0 && Bytes(im.p) == noise ? 0 : 1; },
        {.fileSizeBytes = 4096});
    EXPECT_TRUE(r.exited && r.exitCode == 0);
    // A device under the name is not replaced by a file.
    EXPECT_EQ(Lux::LUX_SaveJPEG(im.p, Path(full)), 0u);
    EXPECT_TRUE(std::filesystem::is_character_file(full));
    EXPECT_EQ(Lux::LUX_SaveJPEG(im.p, Path(nowhere)), 0u);
    NoMask lux;
    EXPECT_EQ(lux.LUX_SaveFile(im.p, nullptr), 0u);
}

TEST(LuxEnhance, DevignetteWithZeroAndFullMask) {
    struct Case { unsigned char mask, in, out; };
    // Zero mask: only gamma 1/0.66. Full mask: brightening then gamma.
    const Case cases[] = {{0, 0, 0}, {0, 255, 255}, {0, 128, 89}, {255, 0, 0}, {255, 255, 255}};
    for (const Case& c : cases) {
        ImagePtr src(Filled(4, 3, 3, c.in)), mask(Filled(4, 3, 3, c.mask)), dst(Filled(4, 3, 3, 1));
        Lux::LUX_DevignetteImage(dst->ppRows, src->ppRows, mask->ppRows, 4, 3, 3, 0.25f, 1.5151515f);
        EXPECT_EQ(Bytes(dst.p), std::vector<std::uint8_t>(36, c.out)) << int(c.mask) << "/" << int(c.in);
    }
}

TEST(LuxEnhance, EqualiseThresholdsAndMask) {
    // 20 x 10 = 200 pixels of mean level 100: T = 1, lo = hi = 100.
    std::vector<std::uint8_t> levels;
    for (int i = 0; i < 200; ++i) levels.insert(levels.end(), {99, 100, 101});
    ImagePtr flat(FromBytes(20, 10, levels));
    ImagePtr out(Lux::LUX_AllocImage(20, 10, 3));
    Lux::LUX_EqualiseImage(out->ppRows, flat->ppRows, nullptr, 20, 10, 3);
    EXPECT_EQ(std::vector<int>(out->ppRows[4], out->ppRows[4] + 3), (std::vector<int>{0, 0, 255}));
    // Below 200 pixels the threshold is 0 and the table the identity.
    auto noise = Noise(19, 10, 3, 4);
    ImagePtr small(FromBytes(19, 10, noise));
    ImagePtr same(Lux::LUX_AllocImage(19, 10, 3));
    Lux::LUX_EqualiseImage(same->ppRows, small->ppRows, nullptr, 19, 10, 3);
    EXPECT_EQ(Bytes(same.p), noise);
    // A full mask matches no mask within one level.
    const unsigned w = 64, h = 40;
    ImagePtr src(Lux::LUX_AllocImage(w, h, 3));
    for (unsigned y = 0; y < h; ++y)
        for (unsigned k = 0; k < w * 3; ++k) src->ppRows[y][k] = static_cast<unsigned char>(60 + (y * 3 + k) % 90);
    ImagePtr a(Lux::LUX_AllocImage(w, h, 3)), b(Lux::LUX_AllocImage(w, h, 3)), mask(Filled(w, h, 3, 255));
    Lux::LUX_EqualiseImage(a->ppRows, src->ppRows, nullptr, w, h, 3);
    Lux::LUX_EqualiseImage(b->ppRows, src->ppRows, mask->ppRows, w, h, 3);
    auto va = Bytes(a.p), vb = Bytes(b.p);
    for (size_t i = 0; i < va.size(); ++i) ASSERT_LE(std::abs(va[i] - vb[i]), 1) << i;
    EXPECT_EQ(*std::min_element(va.begin(), va.end()), 0);
    EXPECT_EQ(*std::max_element(va.begin(), va.end()), 255);
    // In place works too.
    Lux::LUX_EqualiseImage(src->ppRows, src->ppRows, nullptr, w, h, 3);
    EXPECT_EQ(Bytes(src.p), va);
}

namespace {
// w x h pixels repeating `pixel` (its length is the channel count); noise when it is empty.
LUX_Image* Patterned(unsigned w, unsigned h, const std::vector<std::uint8_t>& pixel) {
    if (pixel.empty()) return FromBytes(w, h, Noise(static_cast<int>(w), static_cast<int>(h), 3, 5));
    LUX_Image* im = Lux::LUX_AllocImage(w, h, pixel.size());
    for (unsigned y = 0; y < h; ++y)
        for (size_t k = 0; k < w * pixel.size(); ++k) im->ppRows[y][k] = pixel[k % pixel.size()];
    return im;
}

// The four corner patches' mean level over the centre patch's.
double CornerToCentre(const LUX_Image* im) {
    const unsigned w = im->ulWidth, h = im->ulHeight, pw = std::max(2u, w / 16), ph = std::max(2u, h / 16);
    const auto sum = [&](unsigned x0, unsigned y0) {
        double s = 0;
        for (unsigned y = y0; y < y0 + ph; ++y)
            for (unsigned k = x0 * 3; k < (x0 + pw) * 3; ++k) s += im->ppRows[y][k];
        return s;
    };
    return (sum(0, 0) + sum(w - pw, 0) + sum(0, h - ph) + sum(w - pw, h - ph)) / 4 / sum((w - pw) / 2, (h - ph) / 2);
}
}  // namespace

TEST(LuxObject, LoadFileKeepsTheLoadedImageAndFitsAnyMask) {
    struct Case {
        const char* what;
        unsigned w, h;                    // 0: no mask
        std::vector<std::uint8_t> pixel;  // the mask's pixel, its length the channel count; empty: noise
        int weight;                       // every byte of the mask fitted to the picture; -1: the mask as it is
    };
    const Case cases[] = {
        {"no mask: gamma only", 0, 0, {}, -1},
        {"the picture's size: used as it is", 24, 16, {}, -1},
        {"smaller", 7, 5, {200, 200, 200}, 200},
        {"one column short", 23, 16, {90, 90, 90}, 90},
        {"larger", 48, 33, {255, 255, 255}, 255},
        {"one channel", 5, 4, {120}, 120},
        {"four channels weigh by their rounded mean", 24, 16, {10, 20, 30, 43}, 26},
    };
    enhance_test::TempDir dir("lux_loadfile");
    std::string in = PutJpeg(dir, "p.jpg", 24, 16, 3, Noise(24, 16, 3, 2));
    ImagePtr direct(Lux::LUX_LoadJPEG(Path(in)));
    for (const Case& c : cases) {
        NoMask lux;
        if (c.w) lux.m_pMaskImage = Patterned(c.w, c.h, c.pixel);
        ImagePtr loaded(lux.LUX_LoadFile(Path(in)));
        ASSERT_NE(loaded.p, nullptr);
        ASSERT_NE(lux.m_pOutImage, nullptr) << c.what;
        EXPECT_EQ(Bytes(loaded.p), Bytes(direct.p));
        ImagePtr weights(c.weight < 0 ? nullptr : Filled(24, 16, 3, static_cast<unsigned char>(c.weight)));
        const LUX_Image* used = c.weight < 0 ? lux.m_pMaskImage : weights.p;
        ImagePtr expect(Lux::LUX_AllocImage(24, 16, 3));
        Lux::LUX_DevignetteImage(expect->ppRows, loaded->ppRows, used ? used->ppRows : nullptr, 24, 16, 3, 0.25f,
                                 1.5151515f);
        EXPECT_EQ(Bytes(lux.m_pOutImage), Bytes(expect.p)) << c.what;
    }
    EXPECT_EQ(NoMask().LUX_LoadFile(nullptr), nullptr);
}

TEST(LuxObject, CopiesOwnTheirImages) {
    NoMask lux;
    lux.m_pMaskImage = Filled(24, 16, 3, 7);
    lux.m_pOutImage = Filled(24, 16, 3, 9);
    Lux copy(lux);
    ASSERT_NE(copy.m_pOutImage, lux.m_pOutImage);
    EXPECT_EQ(Bytes(copy.m_pOutImage), Bytes(lux.m_pOutImage));
    NoMask other;
    other = lux;
    EXPECT_NE(other.m_pMaskImage, lux.m_pMaskImage);
    EXPECT_EQ(Bytes(other.m_pMaskImage), Bytes(lux.m_pMaskImage));
}

TEST(LuxMask, DefaultMaskEvensOutARadialFalloff) {
    enhance_test::TempDir dir("lux_vignette");
    const std::string maskFile = dir.File("Mask.jpg");
    {
        ImagePtr mask(Lux::LUX_MakeVignetteMask(640, 480));
        // White (no correction) in the centre, black (full strength) in the corners.
        EXPECT_EQ(mask->ppRows[240][320 * 3], 255);
        EXPECT_EQ(mask->ppRows[0][0], 0);
        EXPECT_EQ(mask->ppRows[479][639 * 3 + 2], 0);
        ASSERT_EQ(Lux::LUX_SaveJPEG(mask.p, const_cast<char*>(maskFile.c_str())), 1u);
    }
    for (auto [w, h] : {std::pair{640u, 480u}, {400u, 250u}, {250u, 400u}, {1000u, 300u}, {96u, 64u}, {31u, 17u}}) {
        // The cos^4 falloff of a lens whose corners lie at 45 degrees: a quarter of the light there.
        std::vector<std::uint8_t> px;
        const double cx = w / 2.0, cy = h / 2.0;
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x) {
                const double dx = x + 0.5 - cx, dy = y + 0.5 - cy, r2 = (dx * dx + dy * dy) / (cx * cx + cy * cy);
                px.insert(px.end(), 3, static_cast<std::uint8_t>(std::lround(200 / ((1 + r2) * (1 + r2)))));
            }
        std::string in = PutJpeg(dir, "photo.jpg", static_cast<int>(w), static_cast<int>(h), 3, px);
        Lux lux;
        ASSERT_TRUE(lux.LUX_LoadMask(maskFile.c_str()));
        ImagePtr loaded(lux.LUX_LoadFile(Path(in)));
        ASSERT_NE(lux.m_pOutImage, nullptr);
        // About 0.28 before and 0.77 after at every size.
        EXPECT_LT(CornerToCentre(loaded.p), 0.4) << w << " x " << h;
        EXPECT_GT(CornerToCentre(lux.m_pOutImage), 0.7) << w << " x " << h;
    }
}

TEST(LuxMask, ConstructorLooksBesideTheProgramThenInShare) {
    const std::string dir = handpix::GetModuleDirectory().c_str(), beside = dir + "Mask.jpg",
                      share = dir + "../share/handpix/Mask.jpg";
    struct Case { bool beside, share; const std::string* from; int inverted; };
    // White beside the program (0 inverted), grey 100 in share (155).
    const Case cases[] = {{true, false, &beside, 0}, {false, true, &share, 155}, {true, true, &beside, 0},
                          {false, false, nullptr, -1}};
    const auto grey = [](int v) { return enhance_test::JpegBytes(8, 8, 3, std::vector<std::uint8_t>(192, v)); };
    for (const Case& c : cases) {
        std::filesystem::create_directories(dir + "../share/handpix");
        if (c.beside) enhance_test::WriteFile(beside, grey(255));
        if (c.share) enhance_test::WriteFile(share, grey(100));
        Lux lux;
        std::filesystem::remove(beside);
        std::filesystem::remove_all(dir + "../share");
        EXPECT_EQ(lux.m_pWorkImage, nullptr);
        EXPECT_EQ(lux.m_pOutImage, nullptr);
        EXPECT_STREQ(lux.m_strMaskPath.c_str(), c.from ? c.from->c_str() : "");
        ASSERT_EQ(lux.m_pMaskImage != nullptr, c.from != nullptr);
        if (c.from) {
            EXPECT_NEAR(lux.m_pMaskImage->ppRows[4][4], c.inverted, 1) << *c.from;
        }
    }
}
