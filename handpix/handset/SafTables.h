// Constant tables of the SAF renderer: the 256-step sine and cosine in 2.14
// fixed point and the colour levels of the 3-3-2 alpha blend.
#pragma once
#include <array>
#include <cstdint>

namespace handpix::saf {

namespace detail {

// sin(pi * k / 128) for k in 0..64 by its Taylor series; the argument is at
// most pi/2, where 30 terms are far below the rounding step of the table.
constexpr double QuarterSine(int k) {
    const double x = 3.14159265358979323846 * k / 128.0;
    double term = x;
    double sum = x;
    for (int n = 1; n < 30; ++n) {
        term *= -x * x / ((2.0 * n) * (2.0 * n + 1.0));
        sum += term;
    }
    return sum;
}

constexpr std::int16_t Nearest(double v) {
    return static_cast<std::int16_t>(v >= 0 ? static_cast<int>(v + 0.5) : -static_cast<int>(-v + 0.5));
}

constexpr std::array<std::int16_t, 256> MakeSine() {
    std::array<std::int16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        const int q = i & 63;
        const int quadrant = i >> 6;
        const double s = QuarterSine((quadrant & 1) ? 64 - q : q);
        t[i] = Nearest(quadrant >= 2 ? -16384.0 * s : 16384.0 * s);
    }
    return t;
}

constexpr std::array<std::int16_t, 256> MakeCosine() {
    constexpr auto s = MakeSine();
    std::array<std::int16_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = s[(i + 64) & 255];
    return t;
}

}  // namespace detail

// Entry i: 16384 x sin(2 pi i / 256), resp. cos, rounded to the nearest integer.
inline constexpr std::array<std::int16_t, 256> kSine = detail::MakeSine();
inline constexpr std::array<std::int16_t, 256> kCosine = detail::MakeCosine();

// Channel levels of an RGB 3-3-2 pixel: red and green by their 3 bits, blue by its 2.
inline constexpr std::array<int, 8> kLevel3 = {0, 32, 64, 96, 128, 160, 192, 255};
inline constexpr std::array<int, 4> kLevel2 = {0, 64, 128, 255};

}  // namespace handpix::saf
