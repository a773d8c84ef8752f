#include "handpix/handset/SisCompose.h"

#include <algorithm>
#include <cstring>

namespace handpix {

void SisPixelBlock::Reset(std::uint32_t w, std::uint32_t h) {
    width = std::min(w, kSisBlockMaxWidth);
    height = std::min(h, kSisBlockMaxHeight);
    for (std::uint32_t y = 0; y < height; ++y) std::memset(Row(y), 0, width);
}

void TransformSisBlock(const SisPixelBlock& src, const SisTransform& t, std::uint32_t capWidth,
                       std::uint32_t capHeight, SisPixelBlock& dst) {
    const std::uint32_t w = t.transpose ? std::min(src.height, capWidth) : src.width;
    const std::uint32_t h = t.transpose ? std::min(src.width, capHeight) : src.height;
    dst.Reset(w, h);
    for (std::uint32_t y = 0; y < dst.height; ++y) {
        const std::uint32_t sy = t.flip ? dst.height - 1 - y : y;
        std::uint8_t* out = dst.Row(y);
        if (!t.transpose) {
            const std::uint8_t* in = src.Row(sy);
            if (t.mirror) {
                for (std::uint32_t x = 0; x < dst.width; ++x) out[x] = in[dst.width - 1 - x];
            } else {
                std::memcpy(out, in, dst.width);
            }
            continue;
        }
        // Transposed: output row sy is source column sy.
        for (std::uint32_t x = 0; x < dst.width; ++x) {
            const std::uint32_t sx = t.mirror ? dst.width - 1 - x : x;
            out[x] = src.Row(sx)[sy];
        }
    }
}

void BuildSisSilhouette(const SisPixelBlock& block, SisPixelBlock& mask) {
    mask.Reset(block.width, block.height);
    for (std::uint32_t y = 0; y < block.height; ++y) {
        const std::uint8_t* row = block.Row(y);
        std::uint32_t first = 0;
        while (first < block.width && row[first] == 0) ++first;
        if (first == block.width) continue;
        std::uint32_t last = block.width - 1;
        while (row[last] == 0) --last;
        std::memset(mask.Row(y) + first, 1, last - first + 1);
    }
    for (std::uint32_t x = 0; x < block.width; ++x) {
        std::uint32_t first = 0;
        while (first < block.height && block.Row(first)[x] == 0) ++first;
        std::uint32_t last = block.height;  // one past the last set pixel
        while (last > first && block.Row(last - 1)[x] == 0) --last;
        for (std::uint32_t y = 0; y < first; ++y) mask.Row(y)[x] = 0;
        for (std::uint32_t y = last; y < block.height; ++y) mask.Row(y)[x] = 0;
    }
}

namespace {

// One row of block pixels onto one row of the slot; Bits is 1 or 2, so the
// pixel positions are shifts, not divisions.
template <unsigned Bits>
void MergeRow(std::uint8_t* dst, const std::uint8_t* src, const std::uint8_t* mask, long x0, long x1, int x,
              SisMerge merge) {
    constexpr unsigned kPerByte = 8 / Bits;
    constexpr unsigned kField = (1u << Bits) - 1;
    const bool orOutside = merge == SisMerge::orSet || merge == SisMerge::maskOrOutside;
    for (long bx = x0; bx < x1; ++bx) {
        const std::uint8_t v = src[bx];
        const bool inside = merge == SisMerge::replace || (mask && mask[bx]);
        if (!inside && !(orOutside && v)) continue;
        const unsigned fx = static_cast<unsigned>(bx + x);
        const unsigned shift = 8 - Bits * (fx % kPerByte + 1);
        std::uint8_t& byte = dst[fx / kPerByte];
        const std::uint8_t bits = static_cast<std::uint8_t>((v & kField) << shift);
        byte = inside ? static_cast<std::uint8_t>((byte & ~(kField << shift)) | bits) : (byte | bits);
    }
}

}  // namespace

void CompositeSisBlock(const SisFrameSlot& slot, const SisPixelBlock& block, int x, int y, SisMerge merge,
                       const SisPixelBlock* mask) {
    const bool masked = merge == SisMerge::mask || merge == SisMerge::maskOrOutside;
    if (masked && !mask) return;
    if (slot.bitsPerPixel != 1 && slot.bitsPerPixel != 2) return;
    // Visible part of the block, in block coordinates.
    const long x0 = std::max(0L, -static_cast<long>(x));
    const long y0 = std::max(0L, -static_cast<long>(y));
    const long x1 = std::min<long>(block.width, static_cast<long>(slot.width) - x);
    const long y1 = std::min<long>(block.height, static_cast<long>(slot.height) - y);
    const std::size_t stride = std::size_t{slot.width} * slot.bitsPerPixel / 8;
    for (long by = y0; by < y1; ++by) {
        const std::uint8_t* src = block.Row(static_cast<std::uint32_t>(by));
        const std::uint8_t* m = masked ? mask->Row(static_cast<std::uint32_t>(by)) : nullptr;
        std::uint8_t* dst = slot.data + static_cast<std::size_t>(by + y) * stride;
        if (slot.bitsPerPixel == 1) MergeRow<1>(dst, src, m, x0, x1, x, merge);
        else MergeRow<2>(dst, src, m, x0, x1, x, merge);
    }
}

}  // namespace handpix
