// Row helpers shared by every picture-file reader: packed rows to padded DIB
// rows, row order reversal, red/blue exchange, 32- to 24-bit rows.
#pragma once

namespace handpix {
// Bytes per row of a 24-bit DIB of the given width: rows padded to 4 bytes.
constexpr unsigned DibStride(unsigned width) { return ((width * 24u + 31u) / 32u) * 4u; }
}  // namespace handpix

unsigned char* PackDibRows(const unsigned char* packed, unsigned width, int height, int* stride);
int FlipRows(unsigned char* rows, unsigned rowBytes, int height);
int SwapRedBlue(unsigned char* pixels, unsigned width, int height);
