// Small picture files for the drawing and picture tests, made in memory:
// each picture is described by a function from (x, y) to a colour.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "handpix/platform/core/Types.h"

namespace handpix::test {
using Painter = std::function<COLORREF(int x, int y)>;
using Bytes = std::vector<std::uint8_t>;

// 24-bit uncompressed BMP, bottom-up rows.
Bytes MakeBmp(int width, int height, const Painter& paint);
// Baseline JPEG through libjpeg at the given quality.
Bytes MakeJpeg(int width, int height, const Painter& paint, int quality = 95);
// GIF89a with the given colours (at most 256) as its global table; each
// pixel takes the index that paint returns.
Bytes MakeGif(int width, int height, const std::vector<COLORREF>& colours,
              const std::function<int(int x, int y)>& index);
// Writes bytes to a file; true on success.
bool WriteBytes(const std::string& path, const Bytes& bytes);
}  // namespace handpix::test
