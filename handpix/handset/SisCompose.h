// Shared block work of the two SIS decoders: blocks held one byte per pixel,
// the placement transforms, the silhouette mask and compositing into a
// packed frame slot (1 or 2 bits per pixel, first pixel in the top bits).
#pragma once
#include <cstddef>
#include <cstdint>

namespace handpix {

// Kind-1 blocks are at most 31 cells (248 pixels) wide; kind-2 blocks and
// every transposed block at most 128 rows tall.
inline constexpr std::uint32_t kSisBlockMaxWidth = 256;
inline constexpr std::uint32_t kSisBlockMaxHeight = 128;

struct SisPixelBlock {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint8_t pixels[kSisBlockMaxWidth * kSisBlockMaxHeight];

    std::uint8_t* Row(std::uint32_t y) { return pixels + std::size_t{y} * kSisBlockMaxWidth; }
    const std::uint8_t* Row(std::uint32_t y) const { return pixels + std::size_t{y} * kSisBlockMaxWidth; }
    // Sets the extent (callers keep it within the maxima) and clears it.
    void Reset(std::uint32_t w, std::uint32_t h);
};

struct SisTransform {
    bool transpose = false;
    bool flip = false;    // top-bottom
    bool mirror = false;  // left-right
};

// dst = src transposed (when asked), then flipped and mirrored. A transposed
// extent is cut to capWidth x capHeight, keeping its top-left part.
void TransformSisBlock(const SisPixelBlock& src, const SisTransform& t, std::uint32_t capWidth,
                       std::uint32_t capHeight, SisPixelBlock& dst);

// mask = 1 from the first to the last non-zero pixel of every row, less the
// pixels above the first and below the last non-zero pixel of every column.
// A column without one keeps nothing.
void BuildSisSilhouette(const SisPixelBlock& block, SisPixelBlock& mask);

enum class SisMerge {
    orSet,           // set block pixels set the frame's (kind-1 lowest layer)
    replace,         // the whole block replaces the frame
    maskOrOutside,   // inside the mask replace, outside OR set pixels (kind 1)
    mask,            // inside the mask replace, outside keep the frame (kind 2)
};

struct SisFrameSlot {
    std::uint8_t* data = nullptr;
    std::uint32_t width = 0;  // multiple of 8
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 1;  // 1 or 2
};

// Draws block at (x, y), dropping whatever falls outside the slot. mask is
// read only for the mask merges.
void CompositeSisBlock(const SisFrameSlot& slot, const SisPixelBlock& block, int x, int y, SisMerge merge,
                       const SisPixelBlock* mask);

}  // namespace handpix
