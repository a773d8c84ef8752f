#include "handpix/imagefiles/ImgFormat.h"

#include "handpix/imagefiles/SharedPalette.h"
#include "handpix/platform/core/ByteReader.h"

namespace handpix {

std::size_t ImgDataSize(int width, int height, int bits) {
    if (width <= 0 || height <= 0) return 0;
    std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    switch (bits) {
        case 1: return pixels / 8;
        case 2: return pixels / 4;
        case 16: return pixels * 2;
        case 24: return pixels * 3;
        default: return pixels;
    }
}

Status ReadImg(FILE* f, ImgFile& out) {
    if (!f || std::fread(out.header, 1, kImgHeaderSize, f) != kImgHeaderSize) return Status::truncated;
    ByteReader r(out.header, kImgHeaderSize);
    std::int16_t w = 0, h = 0;
    std::uint8_t bits = 0;
    r.Skip(4);
    r.S16LE(w);
    r.S16LE(h);
    r.Skip(2);
    r.U8(bits);
    out.width = w;
    out.height = h;
    out.bits = bits;
    // Pictures beyond the handset screen never reach the fixed-size buffers.
    if (w < 1 || h < 1 || static_cast<long>(w) * h > kHandsetMaxPixels) return Status::unsupported;
    const std::size_t n = ImgDataSize(w, h, bits);
    if (n > kHandsetMaxBytes) return Status::unsupported;
    const bool partial = (bits == 1 && (w * h) % 8) || (bits == 2 && (w * h) % 4);
    out.data.resize(n + (partial ? 1 : 0));
    std::size_t got = std::fread(out.data.data(), 1, out.data.size(), f);
    if (got < n) return Status::truncated;
    out.data.resize(got);
    return Status::ok;
}

void DecodeImgPixels(const ImgFile& img, GreyLadder ladder, unsigned depths, Rgb* out) {
    static constexpr std::uint8_t kFileLoaderGrey[4] = {0, 64, 128, 255};
    static constexpr std::uint8_t kPictureGrey[4] = {0, 128, 192, 255};
    const std::uint8_t* grey = ladder == GreyLadder::FileLoader ? kFileLoaderGrey : kPictureGrey;
    const std::size_t count = static_cast<std::size_t>(img.width) * static_cast<std::size_t>(img.height);
    const std::uint8_t* d = img.data.data();
    const std::size_t avail = img.data.size();
    const bool known = img.bits >= 0 && img.bits < 32 && (depths >> img.bits) & 1u;
    const PaletteSnapshot palette = img.bits == 8 ? GetSharedPalette() : PaletteSnapshot{};
    for (std::size_t i = 0; i < count; ++i) {
        Rgb c{0, 0, 0};
        if (!known) {
            // black
        } else if (img.bits == 1) {
            if (i / 8 < avail && (d[i / 8] & (0x80 >> (i % 8)))) c = {255, 255, 255};
        } else if (img.bits == 2) {
            if (i / 4 < avail) {
                std::uint8_t v = grey[(d[i / 4] >> (6 - 2 * (i % 4))) & 3];
                c = {v, v, v};
            }
        } else if (img.bits == 8) {
            if (i < avail) c = Expand8BitPixel(palette, d[i]);
        } else if (img.bits == 16) {
            if (2 * i + 1 < avail) c = ExpandRgb565(static_cast<std::uint16_t>(d[2 * i] | (d[2 * i + 1] << 8)));
        } else if (img.bits == 24) {
            if (3 * i + 2 < avail) c = {d[3 * i], d[3 * i + 1], d[3 * i + 2]};
        }
        out[i] = c;
    }
}

}  // namespace handpix
