// Writers of the small BMP and JPEG files the enhancement and resizing tests read.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace enhance_test {

// A fresh folder under the system's temporary folder, removed by the destructor.
struct TempDir {
    std::string path;
    explicit TempDir(const char* name);
    ~TempDir();
    std::string File(const char* name) const { return path + "/" + name; }
};

struct Bmp {
    int width = 0;
    int height = 0;          // negative: top row first
    int bits = 24;           // 4, 8, 24 or 32
    std::uint32_t compression = 0;
    std::uint32_t clrUsed = 0;
    std::vector<std::uint8_t> palette;  // 4 bytes per entry (B, G, R, 0), as many as the file holds
    std::vector<std::uint8_t> rows;     // file rows, padding included
};
// The whole file as bytes.
std::vector<std::uint8_t> BmpBytes(const Bmp& b);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> ReadFile(const std::string& path);

// Pixels packed top row first, `components` bytes each: 1 grey, 3 R, G, B or
// 4 raw components (stored untransformed, as in a Y, Cb, Cr, alpha file).
std::vector<std::uint8_t> JpegBytes(int width, int height, int components, const std::vector<std::uint8_t>& pixels,
                                    int quality = 95, bool progressive = false);

struct DecodedJpeg {
    int width = 0, height = 0, components = 0;
    int hSamp0 = 0, vSamp0 = 0;  // sampling of the first component
    bool progressive = false;
    std::vector<std::uint16_t> quant0;  // luminance table in natural order
    std::vector<std::uint8_t> pixels;   // packed R, G, B (or grey) top row first
};
bool DecodeJpeg(const std::vector<std::uint8_t>& file, DecodedJpeg& out);
// The luminance table libjpeg makes for a quality, baseline forced.
std::vector<std::uint16_t> LuminanceTable(int quality);

}  // namespace enhance_test
