// Row helpers shared by every picture-file reader: packed rows to padded DIB
// rows, row order reversal, red/blue exchange, 32- to 24-bit rows.
#pragma once
#include <cstdint>

namespace handpix {
// Bytes per row of a 24-bit DIB of the given width: rows padded to 4 bytes.
// In 64 bits: a width past 178 million would wrap 32-bit arithmetic.
constexpr std::uint64_t DibStride(std::uint64_t width) { return ((width * 24u + 31u) / 32u) * 4u; }
}  // namespace handpix

// Null as well when the stride or the whole buffer does not fit an int stride.
unsigned char* PackDibRows(const unsigned char* packed, unsigned width, int height, int* stride);
int FlipRows(unsigned char* rows, unsigned rowBytes, int height);
int SwapRedBlue(unsigned char* pixels, unsigned width, int height);
