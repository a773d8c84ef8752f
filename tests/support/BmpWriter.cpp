#include "tests/support/BmpWriter.h"

#include <cstdio>
#include <cstdlib>

namespace handpix::test {
namespace {
void Put(std::vector<std::uint8_t>& v, std::uint32_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) v.push_back(static_cast<std::uint8_t>((x >> (8 * i)) & 0xFF));
}

// An 8-bit channel value cut to the mask's width and placed under it.
std::uint32_t UnderMask(std::uint8_t c, std::uint32_t mask) {
    if (!mask) return 0;
    const int shift = __builtin_ctz(mask), bits = __builtin_popcount(mask);
    const std::uint32_t v = bits >= 8 ? static_cast<std::uint32_t>(c) << (bits - 8) : c >> (8 - bits);
    return (v << shift) & mask;
}

void PutMasked(std::vector<std::uint8_t>& row, int x, int bits, const std::vector<std::uint32_t>& m,
               std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::uint32_t p = UnderMask(r, m[0]) | UnderMask(g, m[1]) | UnderMask(b, m[2]);
    for (int i = 0; i < bits / 8; ++i) row[static_cast<std::size_t>(x * bits / 8 + i)] = static_cast<std::uint8_t>(p >> (8 * i));
}
}  // namespace

std::vector<std::uint8_t> MakeBmp(const BmpSpec& s) {
    const int rows = std::abs(s.height);
    const int rowBytes = ((s.width * s.bits + 31) / 32) * 4;
    const std::uint32_t paletteBytes = static_cast<std::uint32_t>(s.palette.size() * 4);
    const bool bitfields = !s.masks.empty();
    const std::uint32_t headerEnd = 14 + s.headerSize + (bitfields && s.headerSize == 40 ? 12 : 0);
    const std::uint32_t offBits = headerEnd + paletteBytes + s.gapAfterPalette + s.offBitsDelta;
    std::vector<std::uint8_t> f;
    f.push_back('B');
    f.push_back('M');
    Put(f, headerEnd + paletteBytes + s.gapAfterPalette + rowBytes * rows, 4);
    Put(f, 0, 4);
    Put(f, offBits, 4);
    Put(f, s.headerSize, 4);
    Put(f, static_cast<std::uint32_t>(s.width), 4);
    Put(f, static_cast<std::uint32_t>(s.height), 4);
    Put(f, 1, 2);
    Put(f, static_cast<std::uint32_t>(s.bits), 2);
    Put(f, bitfields ? 3 : s.compression, 4);
    Put(f, static_cast<std::uint32_t>(rowBytes * rows), 4);
    Put(f, 2835, 4);
    Put(f, 2835, 4);
    Put(f, s.clrUsed, 4);
    Put(f, 0, 4);
    for (std::uint32_t m : s.masks) Put(f, m, 4);
    f.resize(headerEnd, 0);
    for (const Bgr& c : s.palette) {
        f.push_back(c.b);
        f.push_back(c.g);
        f.push_back(c.r);
        f.push_back(0);
    }
    f.insert(f.end(), static_cast<std::size_t>(s.gapAfterPalette), 0xEE);
    // File order: bottom row first unless the height is negative.
    for (int i = 0; i < rows; ++i) {
        int y = s.height < 0 ? i : rows - 1 - i;
        std::vector<std::uint8_t> row(static_cast<std::size_t>(rowBytes), 0);
        for (int x = 0; x < s.width; ++x) {
            std::uint32_t v = s.pixels.at(static_cast<std::size_t>(y) * s.width + x);
            std::uint8_t r = (v >> 16) & 0xFF, g = (v >> 8) & 0xFF, b = v & 0xFF;
            if (bitfields) {
                PutMasked(row, x, s.bits, s.masks, r, g, b);
                continue;
            }
            switch (s.bits) {
                case 24: row[3 * x] = b; row[3 * x + 1] = g; row[3 * x + 2] = r; break;
                case 32: row[4 * x] = b; row[4 * x + 1] = g; row[4 * x + 2] = r; row[4 * x + 3] = 0xFF; break;
                case 16: {
                    unsigned p = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
                    row[2 * x] = p & 0xFF;
                    row[2 * x + 1] = static_cast<std::uint8_t>(p >> 8);
                    break;
                }
                default: {
                    int bit = x * s.bits;
                    row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - s.bits - bit % 8));
                }
            }
        }
        f.insert(f.end(), row.begin(), row.end());
    }
    return f;
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace handpix::test
