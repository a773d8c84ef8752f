#include "tests/support/PhotoLike.h"

#include <algorithm>
#include <cmath>
#include <random>

namespace handpix::test {

std::vector<std::uint8_t> PhotoLike(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    struct Blob {
        double cx, cy, r, cr, cg, cb;
    };
    std::vector<Blob> blobs;
    for (int i = 0; i < 7; ++i)
        blobs.push_back({u(rng) * width, u(rng) * height, (0.1 + 0.3 * u(rng)) * std::min(width, height),
                         u(rng) * 255, u(rng) * 255, u(rng) * 255});
    const double skyR = 60 + 120 * u(rng), skyG = 90 + 120 * u(rng), skyB = 140 + 110 * u(rng);
    const double horizon = (0.35 + 0.3 * u(rng)) * height;
    std::normal_distribution<double> grain(0.0, 3.0);
    std::vector<std::uint8_t> px(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double t = static_cast<double>(y) / height;
            double r, g, b;
            if (y < horizon) {
                r = skyR * (1 - 0.4 * t);
                g = skyG * (1 - 0.3 * t);
                b = skyB;
            } else {
                r = 90 + 40 * std::sin(x * 0.05);
                g = 110 + 30 * std::cos(y * 0.07);
                b = 60;
            }
            for (const Blob& bl : blobs) {
                double d = std::hypot(x - bl.cx, y - bl.cy) / bl.r;
                if (d < 1) {
                    double a = d < 0.9 ? 0.85 : 0.85 * (1 - d) * 10;  // soft edge
                    r = r * (1 - a) + bl.cr * a;
                    g = g * (1 - a) + bl.cg * a;
                    b = b * (1 - a) + bl.cb * a;
                }
            }
            double n = grain(rng);
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(std::clamp(r + n, 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + n, 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + n, 0.0, 255.0));
        }
    }
    return px;
}

}  // namespace handpix::test
