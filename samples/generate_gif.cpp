// The interlaced GIF sample: a 64-colour ring pattern.
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
