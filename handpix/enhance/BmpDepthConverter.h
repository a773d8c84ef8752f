// Rewrites an uncompressed BMP file's pixels at another depth into a caller
// buffer, rows in the file's own order, each ((bits * width + 31) / 32) * 4
// bytes long. Only 32 bits (blue, green, red, 0) is offered.
#pragma once
#include <cstddef>

#include "handpix/platform/core/Types.h"

namespace handpix {
// 1 on success; 0 when the file cannot be opened or read, is compressed, or
// its rows do not fit outBytes.
int ConvertBmpDepth(const char* path, int bits, BYTE* out, std::size_t outBytes);
}  // namespace handpix
