// Builds BMP files from a readable description, for tests and samples.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace handpix::test {

struct Bgr {
    std::uint8_t b, g, r;
};

struct BmpSpec {
    int width = 0;
    int height = 0;            // negative: rows stored top-down
    int bits = 24;             // 1, 4, 8, 16, 24, 32
    std::vector<Bgr> palette;  // for 1, 4, 8 bits
    std::uint32_t clrUsed = 0; // written as is (0: the full 2^bits palette is expected)
    std::uint32_t compression = 0;
    int gapAfterPalette = 0;   // extra bytes between palette and pixels
    int offBitsDelta = 0;      // added to the true pixel offset
    std::uint32_t headerSize = 40;      // 108 and 124: the V4 and V5 headers, zero beyond the 40 bytes
    // Red, green, blue masks of a 16- or 32-bit BI_BITFIELDS file (compression 3):
    // after a 40-byte header, else inside it. Each channel keeps its top bits.
    std::vector<std::uint32_t> masks;
    // Pixel values, top row first: palette indices for 1/4/8 bits, else 0xRRGGBB
    // (16 bits keeps the top 5 bits of each channel).
    std::vector<std::uint32_t> pixels;
};

std::vector<std::uint8_t> MakeBmp(const BmpSpec& description);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

}  // namespace handpix::test
