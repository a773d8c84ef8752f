// The fast transforms and conversions against the plain formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "handpix/jpegcodec/JpegKernels.h"
#include "handpix/jpegcodec/JpegTables.h"
#include "handpix/platform/core/Zigzag.h"
#include "tests/jpegcodec/JpegReference.h"

namespace {

namespace jpeg = handpix::jpeg;

// Coefficient blocks the way files produce them: mostly sparse, low
// frequencies first, with quantization products up to the 16-bit limits.
void RandomCoefficients(std::mt19937& rng, std::int16_t c[64], unsigned& rows, unsigned& cols) {
    const int kind = rng() % 4;
    const int limit = kind == 3 ? 32767 : kind == 2 ? 2047 : 255;
    const int count = kind == 0 ? 1 : static_cast<int>(rng() % 64) + 1;
    std::uniform_int_distribution<int> value(-limit - (kind == 3), limit);
    std::fill_n(c, 64, 0);
    rows = cols = 1;
    for (int i = 0; i < count; ++i) {
        const int n = kind == 1 ? static_cast<int>(rng() % 16) : static_cast<int>(rng() % 64);
        c[n] = static_cast<std::int16_t>(value(rng));
        rows |= 1u << (n / 8);
        cols |= 1u << (n % 8);
    }
}

// The suite runs as built, with HANDPIX_NO_AVX2 set and (the kernels) with
// HANDPIX_NO_AVX512 set; each switch must really select its build, or its
// run checks nothing new.
TEST(JpegKernels, TheEnvironmentChoosesTheBuild) {
    const char* off = std::getenv("HANDPIX_NO_AVX2");
    if (off && *off && std::string(off) != "0") EXPECT_FALSE(jpeg::UsingAvx2());
#if defined(__x86_64__) && defined(__GNUC__)
    else EXPECT_EQ(jpeg::UsingAvx2(), __builtin_cpu_supports("avx2") != 0);
#endif
    const char* no512 = std::getenv("HANDPIX_NO_AVX512");
    if ((no512 && *no512 && std::string(no512) != "0") || !jpeg::UsingAvx2()) {
        EXPECT_FALSE(jpeg::UsingAvx512());
    }
#if defined(__x86_64__) && defined(__GNUC__)
    else {
        EXPECT_EQ(jpeg::UsingAvx512(), __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                                           __builtin_cpu_supports("avx512vbmi"));
    }
#endif
}

TEST(JpegKernels, InverseTransformMatchesPlainFormulaOnRandomBlocks) {
    std::mt19937 rng(7);
    for (int iter = 0; iter < 200000; ++iter) {
        std::int16_t c[64];
        unsigned rows, cols;
        RandomCoefficients(rng, c, rows, cols);
        int ref[64];
        jpegref::Idct(c, ref);
        std::uint8_t fast[8 * 10];
        jpeg::IdctToBytes(c, rows, cols, fast, 10);
        std::int16_t inPlace[64];
        jpeg::IdctBlock(std::copy_n(c, 64, inPlace) - 64);
        for (int i = 0; i < 64; ++i) {
            const int level = std::clamp(std::clamp(ref[i], -32768, 32767) + 128, 0, 255);
            ASSERT_EQ(fast[(i / 8) * 10 + i % 8], level) << "iteration " << iter << " index " << i;
            ASSERT_EQ(inPlace[i], std::clamp(ref[i], -32768, 32767)) << "iteration " << iter;
        }
    }
}

TEST(JpegKernels, ForwardTransformMatchesQuadrupleSum) {
    std::mt19937 rng(11);
    std::int16_t area[64], fast[64], ref[64];
    // Coefficients whose exact value lies within 1e-3 of a quantization
    // boundary: there a single-precision shortcut alone would often truncate
    // to the other side, so the test must meet enough of them.
    int nearBoundary = 0;
    auto check = [&](const char* what, int iter) {
        double F[64];
        jpegref::Dct(area, F);
        for (int chroma = 0; chroma < 2; ++chroma) {
            const std::uint8_t* q = chroma ? jpeg::kChromaQuant : jpeg::kLumaQuant;
            // Coefficients and their nonzero mask.
            auto same = [&](std::uint64_t mask, const char* how) {
                for (int k = 0; k < 64; ++k)
                    ASSERT_TRUE(fast[k] == ref[k] && (mask >> k & 1) == (ref[k] != 0))
                        << what << how << iter << " k " << k;
            };
            jpegref::DctQuantize(area, q, ref);
            same(jpeg::ForwardDctQuantize(area, 8, chroma ? jpeg::ChromaPlan() : jpeg::LumaPlan(), fast),
                 " ");
            // Blocks within the sample range again as the encoder's bytes.
            if (std::all_of(area, area + 64, [](int v) { return v >= -128 && v < 128; })) {
                std::uint8_t samples[64];
                for (int i = 0; i < 64; ++i) samples[i] = static_cast<std::uint8_t>(area[i] + 128);
                same(jpeg::ForwardDctQuantizeSamples(samples, 8,
                                                     chroma ? jpeg::ChromaPlan() : jpeg::LumaPlan(), fast),
                     " samples ");
            }
            for (int k = 0; k < 64; ++k) {
                const double qk = q[k], f = F[handpix::kZigzag[k]], m = std::nearbyint(f / qk);
                nearBoundary += m != 0.0 && std::fabs(f - m * qk) < 1e-3;
            }
        }
    };
    // Samples after level shift, noisy and structured (flat areas, ramps and
    // edges put many sums on exact values).
    for (int iter = 0; iter < 40000; ++iter) {
        const int kind = iter % 4;
        const int a = static_cast<int>(rng() % 256) - 128, b = static_cast<int>(rng() % 256) - 128;
        for (int i = 0; i < 64; ++i) {
            const int x = i / 8, y = i % 8;
            int v = kind == 0 ? static_cast<int>(rng() % 256) - 128
                    : kind == 1 ? a
                    : kind == 2 ? a + (b - a) * (x + y) / 14
                                : (y < (iter / 4) % 8 ? a : b);
            area[i] = static_cast<std::int16_t>(std::clamp(v, -128, 127));
        }
        check("block", iter);
    }
    EXPECT_GE(nearBoundary, 100);
    // Noise blocks (a linear congruential sequence from each seed) where
    // the single-precision value alone truncates to the wrong side.
    for (unsigned seed : {105688u, 550847u, 742211u, 1357704u, 2407761u, 2900856u}) {
        unsigned v = seed;
        for (auto& s : area)
            s = static_cast<std::int16_t>(static_cast<int>((v = v * 1664525u + 1013904223u) >> 24) - 128);
        check("adversarial block", static_cast<int>(seed));
    }
    // Beyond the encoder's range the direct sum is taken; it must agree too.
    for (int iter = 0; iter < 200; ++iter) {
        for (auto& v : area) v = static_cast<std::int16_t>(static_cast<int>(rng() % 8192) - 4096);
        check("wide block", iter);
    }
}

TEST(JpegKernels, ColourConversionsMatchPlainFormulasForEveryInput) {
    // Every (a, b, c): as Y, Cb, Cr planes, and as packed B, G, R; with
    // chroma at half width, pixels 2i and 2i + 1 share Cb and Cr (their Y
    // differ, so each pair is checked against both of its samples).
    std::vector<std::uint8_t> y(256), cb(256), cr(256), out(3 * 256), bgr(3 * 256), ycc(3 * 256);
    std::vector<std::uint8_t> yHalf(256), yOther(256), crHalf(128), outHalf(3 * 256);
    std::vector<std::uint8_t> planes[3] = {std::vector<std::uint8_t>(256), std::vector<std::uint8_t>(256),
                                           std::vector<std::uint8_t>(256)};
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            for (int c = 0; c < 256; ++c) {
                y[c] = bgr[3 * c] = static_cast<std::uint8_t>(a);
                cb[c] = bgr[3 * c + 1] = static_cast<std::uint8_t>(b);
                cr[c] = bgr[3 * c + 2] = static_cast<std::uint8_t>(c);
                yHalf[c] = static_cast<std::uint8_t>(c % 2 ? 255 - a : a);
                yOther[c] = static_cast<std::uint8_t>(a + 37 * c);
            }
            jpeg::YccToBgr(y.data(), cb.data(), cr.data(), out.data(), 256, b % 2 == 1);  // odd b: streaming stores
            jpeg::BgrToYcc(bgr.data(), ycc.data(), 256);
            for (int c = 0; c < 256; ++c) {
                std::uint8_t ref[3], back[3];
                jpegref::YccToBgr(a, b, c, ref);
                ASSERT_TRUE(std::equal(ref, ref + 3, &out[3 * c])) << a << " " << b << " " << c;
                jpegref::BgrToYcc(&bgr[3 * c], back);
                ASSERT_TRUE(std::equal(back, back + 3, &ycc[3 * c])) << a << " " << b << " " << c;
            }
            // The planes form on a row whose length leaves a tail after the
            // vector loop; nothing past the row is written.
            const int m = 256 - a % 17;
            std::vector<std::uint8_t> yccP(3 * 256, 0xA5);
            jpeg::BgrToYccPlanes(bgr.data(), yccP.data(), planes[0].data(), planes[1].data(), planes[2].data(), m);
            ASSERT_TRUE(std::equal(yccP.begin(), yccP.begin() + 3 * m, ycc.begin())) << a << " " << b;
            ASSERT_EQ(std::count(yccP.begin() + 3 * m, yccP.end(), 0xA5), 3 * (256 - m));
            for (int i = 0; i < m; ++i)
                for (int k = 0; k < 3; ++k)
                    ASSERT_EQ(planes[k][i], ycc[3 * i + k]) << a << " " << b << " " << i;
            for (int half = 0; half < 2; ++half) {
                for (int i = 0; i < 128; ++i) crHalf[i] = static_cast<std::uint8_t>(128 * half + i);
                jpeg::YccToBgrHalfChroma(yHalf.data(), cb.data(), crHalf.data(), outHalf.data(), 256, b % 2 == 1);
                for (int p = 0; p < 256; ++p) {
                    std::uint8_t ref[3];
                    jpegref::YccToBgr(yHalf[p], b, crHalf[p / 2], ref);
                    ASSERT_TRUE(std::equal(ref, ref + 3, &outHalf[3 * p])) << a << " " << b << " " << p;
                }
                // Two rows on the same chroma (4:2:0), on a length with a
                // tail: the first as above, the second with other Y values.
                const int m = 256 - b % 16;
                std::vector<std::uint8_t> second(3 * 256, 0xA5), first(3 * 256, 0xA5);
                jpeg::YccToBgrHalfChromaTwoRows(yHalf.data(), yOther.data(), cb.data(), crHalf.data(), first.data(),
                                                second.data(), m, b % 2 == 1);
                ASSERT_TRUE(std::equal(first.begin(), first.begin() + 3 * m, outHalf.begin())) << a << " " << b;
                for (int p = 0; p < m; ++p) {
                    std::uint8_t ref[3];
                    jpegref::YccToBgr(yOther[p], b, crHalf[p / 2], ref);
                    ASSERT_TRUE(std::equal(ref, ref + 3, &second[3 * p])) << a << " " << b << " " << p;
                }
                ASSERT_EQ(std::count(second.begin() + 3 * m, second.end(), 0xA5), 3 * (256 - m));
            }
        }
}

}  // namespace
