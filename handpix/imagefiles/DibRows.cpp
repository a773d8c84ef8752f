#include "handpix/imagefiles/DibRows.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

unsigned char* PackDibRows(const unsigned char* packed, unsigned width, int height, int* stride) {
    if (!packed || height < 0) return nullptr;
    const unsigned rowIn = width * 3u;
    const unsigned rowOut = handpix::DibStride(width);
    unsigned char* out = new (std::nothrow) unsigned char[static_cast<std::size_t>(rowOut) * height + 1];
    if (!out) return nullptr;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = out + static_cast<std::size_t>(rowOut) * y;
        std::memcpy(row, packed + static_cast<std::size_t>(rowIn) * y, rowIn);
        // Padding has no defined value; zero keeps output files deterministic.
        std::memset(row + rowIn, 0, rowOut - rowIn);
    }
    if (stride) *stride = static_cast<int>(rowOut);
    return out;
}

int FlipRows(unsigned char* rows, unsigned rowBytes, int height) {
    if (!rows) return 0;
    for (int i = 0, j = height - 1; i < j; ++i, --j) {
        unsigned char* a = rows + static_cast<std::size_t>(rowBytes) * i;
        unsigned char* b = rows + static_cast<std::size_t>(rowBytes) * j;
        std::swap_ranges(a, a + rowBytes, b);
    }
    return 1;
}

int SwapRedBlue(unsigned char* pixels, unsigned width, int height) {
    if (!pixels) return 0;
    if (height <= 0) return 1;
    std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (std::size_t i = 0; i < n; ++i) std::swap(pixels[3 * i], pixels[3 * i + 2]);
    return 1;
}
