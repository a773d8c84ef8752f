// Makes the bundled sample pictures: BMP at 1, 4, 8 and 24 bits, a JPEG, an
// interlaced GIF and the photo folder of the grid demo (OUTDIR/photos must
// exist), all drawn by our own code. Usage: handpix_samples OUTDIR
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/BmpWriter.h"
#include "tests/support/JpegPeer.h"
#include "tests/support/PhotoLike.h"

using namespace handpix::test;

// Shared with the photo folder's generator.
bool WriteJpeg(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgb, int quality) {
    jpegtest::EncodeOptions o;
    o.quality = quality;
    o.h0 = o.v0 = 2;  // 4:2:0, as cameras write
    std::vector<std::uint8_t> bytes = jpegtest::PeerEncode(jpegtest::Picture{w, h, 3, rgb}, o);
    return !bytes.empty() && WriteBytes(path, bytes);
}

namespace {

// A paletted BMP: a bull's-eye of palette rings over a diagonal ramp.
BmpSpec Rings(int bits, int w, int h) {
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.bits = bits;
    const int n = 1 << bits;
    for (int i = 0; i < n; ++i) {
        double t = n == 1 ? 0 : static_cast<double>(i) / (n - 1);
        s.palette.push_back({static_cast<std::uint8_t>(255 * (1 - t)), static_cast<std::uint8_t>(128 + 127 * std::sin(6.28 * t)),
                             static_cast<std::uint8_t>(255 * t)});
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double d = std::hypot(x - w / 2.0, y - h / 2.0);
            s.pixels.push_back(static_cast<std::uint32_t>((static_cast<int>(d / 6) * 37 + (x + y) / 40) % n));
        }
    return s;
}

BmpSpec Photo24(int w, int h) {
    BmpSpec s;
    s.width = w;
    s.height = h;
    s.bits = 24;
    std::vector<std::uint8_t> rgb = PhotoLike(w, h, 24);
    for (int i = 0; i < w * h; ++i)
        s.pixels.push_back((static_cast<std::uint32_t>(rgb[3 * i]) << 16) | (rgb[3 * i + 1] << 8) | rgb[3 * i + 2]);
    return s;
}

}  // namespace

bool WriteSamplePhotos(const std::string& dir);  // samples/generate_photos.cpp
#ifdef HANDPIX_HAVE_GIF_WRITER
bool WriteSampleGif(const std::string& path);          // samples/generate_gif.cpp
bool WriteSampleAnimatedGif(const std::string& path);  // samples/generate_gif.cpp
#endif

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = WriteBytes(dir + "/rings1.bmp", MakeBmp(Rings(1, 97, 61))) &&
              WriteBytes(dir + "/rings4.bmp", MakeBmp(Rings(4, 120, 90))) &&
              WriteBytes(dir + "/rings8.bmp", MakeBmp(Rings(8, 150, 101))) &&
              WriteBytes(dir + "/landscape24.bmp", MakeBmp(Photo24(177, 131)));
    std::vector<std::uint8_t> photo = PhotoLike(176, 132, 7);
    ok = ok && WriteJpeg(dir + "/photo.jpg", 176, 132, photo, 88);
#ifdef HANDPIX_HAVE_GIF_WRITER
    ok = ok && WriteSampleGif(dir + "/interlaced.gif");
    ok = ok && WriteSampleAnimatedGif(dir + "/bounce.gif");
#endif
    ok = ok && WriteSamplePhotos(dir + "/photos");
    if (!ok) {
        std::fprintf(stderr, "could not write the samples into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
