// The kind-2 pixel coder: one bit plane coded row by row with a three-pixel
// context, a predicted bit per context and adaptive run lengths of correct
// predictions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/Status.h"

namespace handpix {

inline constexpr std::uint32_t kSisKind2MaxBlockSide = 128;  // pixels
inline constexpr unsigned kSisKind2Contexts = 8;
inline constexpr unsigned kSisKind2RunParameters = 16;
inline constexpr unsigned kSisKind2CodesPerClearing = 32;

// Decodes the two planes of a w x h block (w a multiple of 4, both at most
// 128) into packed 2-bit pixels, w / 4 bytes a row: plane 0 gives the high
// bit of each pair, plane 1 the low bit, and each pair is then turned from
// Gray code into its number. The reader ends on the next byte boundary.
Status DecodeSisKind2Planes(MsbBitReader& r, std::uint32_t w, std::uint32_t h, std::uint8_t* packed);

}  // namespace handpix
