// PNG output of the tool (and of tests that want to look at a picture).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace handpix::tool {

enum class PixelOrder {
    BGRX,  // 4 bytes a pixel: blue, green, red, unused (drawing surfaces)
    BGR,   // 3 bytes a pixel (DIB rows)
    RGB,   // 3 bytes a pixel
    RGBA,  // 4 bytes a pixel with alpha
};

struct PngImage {
    const std::uint8_t* data;  // first byte of the top row
    int width;
    int height;
    std::ptrdiff_t stride;     // may be negative (bottom-up DIB memory)
    PixelOrder order;
};

// Writes the picture as an 8-bit RGB (or RGBA) PNG, through a temporary file
// renamed over the target. On failure returns false, sets error and leaves
// any old file as it was.
bool WritePng(const std::string& path, const PngImage& image, std::string* error);

// Encodes into memory (for animated PNG frames): the zlib-compressed IDAT payload only.
bool CompressPngRows(const PngImage& image, std::vector<std::uint8_t>& idat, std::string* error);

}  // namespace handpix::tool
