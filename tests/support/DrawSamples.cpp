#include "DrawSamples.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace handpix::test {
namespace {
void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, unsigned v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
}  // namespace

Bytes MakeBmp(int width, int height, const Painter& paint) {
    const unsigned stride = ((static_cast<unsigned>(width) * 24 + 31) / 32) * 4;
    const unsigned image = stride * static_cast<unsigned>(height);
    Bytes b{'B', 'M'};
    Put32(b, 54 + image);
    Put32(b, 0);
    Put32(b, 54);
    Put32(b, 40);
    Put32(b, static_cast<unsigned>(width));
    Put32(b, static_cast<unsigned>(height));
    Put16(b, 1);
    Put16(b, 24);
    Put32(b, 0);
    Put32(b, image);
    Put32(b, 2835);
    Put32(b, 2835);
    Put32(b, 0);
    Put32(b, 0);
    for (int y = height - 1; y >= 0; --y) {
        for (int x = 0; x < width; ++x) {
            COLORREF c = paint(x, y);
            b.push_back(static_cast<std::uint8_t>(GetBValue(c)));
            b.push_back(static_cast<std::uint8_t>(GetGValue(c)));
            b.push_back(static_cast<std::uint8_t>(GetRValue(c)));
        }
        for (unsigned p = static_cast<unsigned>(width) * 3; p < stride; ++p) b.push_back(0);
    }
    return b;
}

Bytes MakeJpeg(int width, int height, const Painter& paint, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            COLORREF c = paint(x, y);
            row[x * 3] = static_cast<JSAMPLE>(GetRValue(c));
            row[x * 3 + 1] = static_cast<JSAMPLE>(GetGValue(c));
            row[x * 3 + 2] = static_cast<JSAMPLE>(GetBValue(c));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes b(out, out + outSize);
    std::free(out);
    return b;
}

// The image data uses 8-bit LZW codes that never grow past 9 bits: a clear
// code goes out before the table would need a tenth bit.
Bytes MakeGif(int width, int height, const std::vector<COLORREF>& colours,
              const std::function<int(int x, int y)>& index) {
    Bytes b{'G', 'I', 'F', '8', '9', 'a'};
    Put16(b, static_cast<unsigned>(width));
    Put16(b, static_cast<unsigned>(height));
    b.push_back(0xF7);  // global table of 256 entries, 8 bits of colour
    b.push_back(0);
    b.push_back(0);
    for (int i = 0; i < 256; ++i) {
        COLORREF c = i < static_cast<int>(colours.size()) ? colours[static_cast<std::size_t>(i)] : 0;
        b.push_back(static_cast<std::uint8_t>(GetRValue(c)));
        b.push_back(static_cast<std::uint8_t>(GetGValue(c)));
        b.push_back(static_cast<std::uint8_t>(GetBValue(c)));
    }
    b.push_back(0x2C);
    Put16(b, 0);
    Put16(b, 0);
    Put16(b, static_cast<unsigned>(width));
    Put16(b, static_cast<unsigned>(height));
    b.push_back(0);
    b.push_back(8);  // minimum code size
    Bytes codes;
    unsigned acc = 0;
    int bits = 0;
    auto emit = [&](unsigned code) {
        acc |= code << bits;
        bits += 9;
        while (bits >= 8) {
            codes.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    constexpr unsigned kClear = 256, kEnd = 257;
    emit(kClear);
    int sinceClear = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 250) {
                emit(kClear);
                sinceClear = 0;
            }
            emit(static_cast<unsigned>(index(x, y)) & 0xFF);
            ++sinceClear;
        }
    emit(kEnd);
    if (bits > 0) codes.push_back(static_cast<std::uint8_t>(acc));
    for (std::size_t i = 0; i < codes.size(); i += 255) {
        std::size_t n = std::min<std::size_t>(255, codes.size() - i);
        b.push_back(static_cast<std::uint8_t>(n));
        b.insert(b.end(), codes.begin() + static_cast<std::ptrdiff_t>(i), codes.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    b.push_back(0);
    b.push_back(0x3B);
    return b;
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}
}  // namespace handpix::test
