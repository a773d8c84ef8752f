// Encodes real frames as SIS streams. Each frame is cut into blocks that
// cover its drawn pixels (kind 1: set pixels over a clear frame; kind 2:
// pixels other than the frame's background value); a block whose pixels an
// earlier frame already had is placed again instead of stored again, and a
// block that differs from an earlier one in a few cells is stored as a
// derived block with those cells when that is smaller.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/platform/core/Bytes.h"

namespace handpix {

struct SisAnimation {
    std::uint32_t width = 0;   // pixels, a multiple of 8
    std::uint32_t height = 0;
    std::vector<Bytes> frames;     // one value per pixel: 0/1 (kind 1) or 0 to 3 (kind 2)
    std::vector<unsigned> delays;  // tenths of a second per frame (missing: 1)
    bool loop = true;
    std::size_t poolBytes = 65536;  // kind 2: the reader's cache of decoded blocks
};

// Kind 1: at most 248 x 120 pixels, 20 frames, 20 blocks; one delay for
// every frame (the first, at most 15).
EncodeResult EncodeSisKind1(const SisAnimation& a);
// Kind 2: at most 248 x 248 pixels, 20 frames, 50 blocks.
EncodeResult EncodeSisKind2(const SisAnimation& a);

}  // namespace handpix
