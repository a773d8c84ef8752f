// The GIF samples: an interlaced 64-colour ring pattern and a small animation.
#include <algorithm>
#include <cmath>
#include <string>

#include "tests/support/BmpWriter.h"
#include "tests/support/GifWriter.h"

bool WriteSampleGif(const std::string& path) {
    using namespace handpix::test;
    GifFile f;
    for (int i = 0; i < 64; ++i)
        f.globalMap.push_back({static_cast<std::uint8_t>(i * 4), static_cast<std::uint8_t>(255 - i * 3),
                               static_cast<std::uint8_t>(128 + 127 * std::sin(i * 0.2))});
    GifImage im;
    im.width = 140;
    im.height = 93;
    im.interlaced = true;
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x)
            im.pixels.push_back(static_cast<std::uint8_t>(static_cast<int>(std::hypot(x - 70, y - 46) / 3) % 64));
    f.images.push_back(im);
    return WriteBytes(path, EncodeGif(f));
}

// An animated GIF for `handpix pack`: a ball bouncing over a sky and a green
// hill, 12 frames of a tenth of a second each, looping. Each frame after the
// first redraws only the box the ball leaves and enters, scene and ball.
bool WriteSampleAnimatedGif(const std::string& path) {
    using namespace handpix::test;
    constexpr int kW = 120, kH = 90, kFrames = 12, kBall = 20;
    GifFile f;
    f.globalMap = {{255, 255, 255}, {96, 160, 240}, {40, 150, 60}, {230, 60, 40}, {250, 220, 80}, {20, 20, 20}};
    for (int i = static_cast<int>(f.globalMap.size()); i < 8; ++i) f.globalMap.push_back({0, 0, 0});
    f.extensions.push_back({0xFF, {{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'}, {1, 0, 0}}});
    const auto ballY = [](int i) { return 60 - static_cast<int>(55 * std::fabs(std::sin(i * 3.14159265 / kFrames))); };
    for (int i = 0; i < kFrames; ++i) {
        const int bx = 8 + 8 * i, by = ballY(i);
        GifImage im;
        if (i == 0) {
            im.width = kW, im.height = kH;
            for (int y = 0; y < kH; ++y)
                for (int x = 0; x < kW; ++x)
                    im.pixels.push_back(static_cast<std::uint8_t>(y > 70 + 8 * std::sin(x / 19.0) ? 2 : 1));
        } else {
            // The box covers where the ball was and where it is.
            const int px = 8 + 8 * (i - 1), py = ballY(i - 1);
            im.left = std::min(px, bx), im.top = std::min(py, by);
            im.width = std::max(px, bx) + kBall - im.left, im.height = std::max(py, by) + kBall - im.top;
            for (int y = 0; y < im.height; ++y)
                for (int x = 0; x < im.width; ++x) {
                    const int sx = im.left + x, sy = im.top + y;
                    im.pixels.push_back(static_cast<std::uint8_t>(sy > 70 + 8 * std::sin(sx / 19.0) ? 2 : 1));
                }
        }
        for (int y = 0; y < kBall; ++y)
            for (int x = 0; x < kBall; ++x) {
                const double d = std::hypot(x - 9.5, y - 9.5);
                if (d > 9.5) continue;
                const int ix = bx + x - im.left, iy = by + y - im.top;
                im.pixels[static_cast<std::size_t>(iy * im.width + ix)] = static_cast<std::uint8_t>(d < 3 ? 4 : d > 8.5 ? 5 : 3);
            }
        // Graphic control: keep the frame, delay 10 hundredths, no transparent index.
        im.extensions.push_back({0xF9, {{0x04, 10, 0, 0}}});
        f.images.push_back(im);
    }
    return WriteBytes(path, EncodeGif(f));
}
