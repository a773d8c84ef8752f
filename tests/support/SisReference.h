// Reference renderers of SIS stream descriptions: straightforward pixel by
// pixel drawings of what a description means, to hold the decoders against.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/handset/SisKind1Writer.h"
#include "handpix/handset/SisKind2Writer.h"

namespace handpix::test {

// Frame f of s, pixel by pixel (0/1, row-major).
std::vector<std::uint8_t> RenderSisKind1(const SisKind1Stream& s, std::uint32_t f);

// Frame f as 2-bit pixels (row-major), drawn over `previous` (the slot's
// old pixels, used when the background keeps them).
std::vector<std::uint8_t> RenderSisKind2(const SisKind2Stream& s, std::uint32_t f,
                                         const std::vector<std::uint8_t>& previous);

// Packs 0/1 pixels into 1-bit raw frame rows, 2-bit pixels four to a byte;
// the first pixel in the top bits.
std::vector<std::uint8_t> PackBits1(const std::vector<std::uint8_t>& px);
std::vector<std::uint8_t> PackBits2(const std::vector<std::uint8_t>& px);

}  // namespace handpix::test
