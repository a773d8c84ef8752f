// The one resampler of the library: area averaging when shrinking (each
// destination pixel the coverage-weighted mean of the source area it covers),
// bilinear filtering when enlarging, chosen per axis. Used by picture
// rendering and by thumbnail resizing.
#pragma once
#include <cstddef>
#include <cstdint>

namespace handpix {

struct ConstPixels {
    const std::uint8_t* data;  // first byte of the top row as the caller sees it
    int width;
    int height;
    std::ptrdiff_t stride;     // bytes from one row to the next; negative walks bottom-up memory
};

struct Pixels {
    std::uint8_t* data;
    int width;
    int height;
    std::ptrdiff_t stride;
};

// Resamples src into dst; both hold `channels` bytes per pixel (1 to 4).
// Returns false (writing nothing) for empty or inconsistent arguments.
bool Resample(ConstPixels src, Pixels dst, int channels);

}  // namespace handpix
