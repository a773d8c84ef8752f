#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "handpix/platform/core/Resample.h"

namespace {
using handpix::ConstPixels;
using handpix::Pixels;

struct Picture {
    int width, height, channels;
    std::vector<std::uint8_t> bytes;
    Picture(int w, int h, int c) : width(w), height(h), channels(c), bytes(static_cast<size_t>(w * h * c)) {}
    std::uint8_t& at(int x, int y, int c) { return bytes[static_cast<size_t>((y * width + x) * channels + c)]; }
    ConstPixels in() const { return {bytes.data(), width, height, width * channels}; }
    Pixels out() { return {bytes.data(), width, height, width * channels}; }
};

Picture Random(int w, int h, int c, unsigned seed) {
    Picture p(w, h, c);
    std::mt19937 gen(seed);
    for (auto& b : p.bytes) b = static_cast<std::uint8_t>(gen());
    return p;
}

// Coverage of source cell [i, i+1) by destination cell j when n source cells
// map onto m destination cells, in source units.
double Overlap(int i, int j, int n, int m) {
    double lo = std::max<double>(i, static_cast<double>(j) * n / m);
    double hi = std::min<double>(i + 1, static_cast<double>(j + 1) * n / m);
    return std::max(0.0, hi - lo);
}

// Plain reference: area weights when shrinking, centre-aligned linear
// interpolation when enlarging, per axis, in double precision.
std::vector<std::vector<double>> Weights(int n, int m) {
    std::vector<std::vector<double>> w(static_cast<size_t>(m), std::vector<double>(static_cast<size_t>(n), 0.0));
    for (int j = 0; j < m; ++j) {
        if (m <= n) {
            for (int i = 0; i < n; ++i) w[j][i] = Overlap(i, j, n, m) * m / n;
        } else {
            double x = std::clamp((j + 0.5) * n / m - 0.5, 0.0, n - 1.0);
            int i = static_cast<int>(x);
            double f = x - i;
            w[j][i] += 1 - f;
            if (f > 0) w[j][i + 1] += f;
        }
    }
    return w;
}

Picture Reference(const Picture& s, int dw, int dh) {
    auto wx = Weights(s.width, dw), wy = Weights(s.height, dh);
    Picture d(dw, dh, s.channels);
    for (int y = 0; y < dh; ++y)
        for (int x = 0; x < dw; ++x)
            for (int c = 0; c < s.channels; ++c) {
                double v = 0;
                for (int sy = 0; sy < s.height; ++sy) {
                    if (wy[y][sy] == 0) continue;
                    for (int sx = 0; sx < s.width; ++sx)
                        v += wy[y][sy] * wx[x][sx] *
                             s.bytes[static_cast<size_t>((sy * s.width + sx) * s.channels + c)];
                }
                d.at(x, y, c) = static_cast<std::uint8_t>(std::lround(v));
            }
    return d;
}
}  // namespace

TEST(Resample, TwoByTwoBoxesAverageExactly) {
    Picture s(4, 2, 1);
    const std::uint8_t v[] = {10, 20, 100, 101, 30, 40, 102, 104};
    std::copy(std::begin(v), std::end(v), s.bytes.begin());
    Picture d(2, 1, 1);
    ASSERT_TRUE(handpix::Resample(s.in(), d.out(), 1));
    EXPECT_EQ(d.bytes[0], 25);   // (10 + 20 + 30 + 40) / 4
    EXPECT_EQ(d.bytes[1], 102);  // 407 / 4 = 101.75
}

struct RefCase { int sw, sh, dw, dh, channels; };
class AgainstReference : public ::testing::TestWithParam<RefCase> {};

TEST_P(AgainstReference, WithinOneLevel) {
    const RefCase& k = GetParam();
    Picture s = Random(k.sw, k.sh, k.channels, static_cast<unsigned>(k.sw * 31 + k.dh));
    Picture d(k.dw, k.dh, k.channels);
    ASSERT_TRUE(handpix::Resample(s.in(), d.out(), k.channels));
    Picture r = Reference(s, k.dw, k.dh);
    for (size_t i = 0; i < d.bytes.size(); ++i)
        ASSERT_LE(std::abs(d.bytes[i] - r.bytes[i]), 1) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(Sizes, AgainstReference,
                         ::testing::Values(RefCase{97, 61, 13, 11, 3}, RefCase{64, 48, 64, 48, 3},
                                           RefCase{40, 30, 39, 29, 1}, RefCase{17, 9, 50, 40, 4},
                                           RefCase{30, 20, 7, 45, 2}, RefCase{1, 1, 5, 3, 3},
                                           RefCase{600, 300, 3, 2, 3}));

TEST(Resample, NegativeStrideReadsBottomUpMemory) {
    Picture top = Random(31, 23, 3, 3);
    // The same picture stored bottom row first.
    Picture bottom(31, 23, 3);
    const int row = 31 * 3;
    for (int y = 0; y < 23; ++y)
        std::copy_n(&top.bytes[static_cast<size_t>(y * row)], row, &bottom.bytes[static_cast<size_t>((22 - y) * row)]);
    Picture a(10, 7, 3), b(10, 7, 3);
    ASSERT_TRUE(handpix::Resample(top.in(), a.out(), 3));
    ConstPixels up{bottom.bytes.data() + 22 * row, 31, 23, -row};
    // Destination bottom-up as well.
    Pixels down{b.bytes.data() + 6 * 30, 10, 7, -30};
    ASSERT_TRUE(handpix::Resample(up, down, 3));
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 30; ++x) ASSERT_EQ(a.bytes[static_cast<size_t>(y * 30 + x)], b.bytes[static_cast<size_t>((6 - y) * 30 + x)]);
}

TEST(Resample, BadArgumentsWriteNothing) {
    Picture s = Random(8, 8, 3, 1);
    Picture d(4, 4, 3);
    std::fill(d.bytes.begin(), d.bytes.end(), 0xAB);
    const auto untouched = d.bytes;
    EXPECT_FALSE(handpix::Resample(s.in(), d.out(), 0));
    EXPECT_FALSE(handpix::Resample(s.in(), d.out(), 5));
    EXPECT_FALSE(handpix::Resample({nullptr, 8, 8, 24}, d.out(), 3));
    EXPECT_FALSE(handpix::Resample({s.bytes.data(), 0, 8, 24}, d.out(), 3));
    EXPECT_FALSE(handpix::Resample({s.bytes.data(), 8, 8, 20}, d.out(), 3));  // stride shorter than a row
    EXPECT_FALSE(handpix::Resample(s.in(), {d.bytes.data(), 4, -4, 12}, 3));
    EXPECT_EQ(d.bytes, untouched);
}

TEST(Resample, TallAndHugeSpansTakeTheWidePaths) {
    // Identity on a tall picture: one row per span, weighted by the whole height.
    Picture tall = Random(2, 40000, 1, 5);
    Picture same(2, 40000, 1);
    ASSERT_TRUE(handpix::Resample(tall.in(), same.out(), 1));
    EXPECT_EQ(same.bytes, tall.bytes);
    // Thousands of rows per span, and a total weight beyond 32 bits of sums.
    Picture big(4500, 4000, 1);
    std::uint64_t sum[2] = {};
    for (int y = 0; y < 4000; ++y)
        for (int x = 0; x < 4500; ++x) {
            std::uint8_t v = static_cast<std::uint8_t>((x * 7 + y * 13) % 251);
            big.at(x, y, 0) = v;
            sum[y / 2000] += v;
        }
    Picture d(1, 2, 1);
    ASSERT_TRUE(handpix::Resample(big.in(), d.out(), 1));
    for (int i = 0; i < 2; ++i) EXPECT_EQ(d.bytes[static_cast<size_t>(i)], (sum[i] + 4500000) / 9000000) << i;
}
