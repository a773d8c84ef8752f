#include "handpix/imagefiles/DibRows.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

unsigned char* PackDibRows(const unsigned char* packed, unsigned width, int height, int* stride) {
    if (!packed || height < 0) return nullptr;
    const std::size_t rowIn = static_cast<std::size_t>(width) * 3u;
    const std::uint64_t rowOut = handpix::DibStride(width);
    if (rowOut > INT_MAX || (height > 0 && rowOut > (SIZE_MAX - 1) / static_cast<std::uint64_t>(height)))
        return nullptr;
    unsigned char* out = new (std::nothrow) unsigned char[rowOut * static_cast<std::size_t>(height) + 1];
    if (!out) return nullptr;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = out + rowOut * static_cast<std::size_t>(y);
        std::memcpy(row, packed + rowIn * static_cast<std::size_t>(y), rowIn);
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
