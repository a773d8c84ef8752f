// Encodes real frames as an 8-bit SAF stream: each frame is a background
// colour and placements of objects, objects are stored once (deflated) and
// placed by every frame that shows them, and a frame that differs from an
// earlier one in a small area is that frame's placements plus a patch.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "handpix/platform/core/Bytes.h"

namespace handpix {

struct SafFrames {
    std::uint32_t width = 0;   // stream pixels (bytes) across, 1 to 255
    std::uint32_t height = 0;  // 1 to 255
    std::vector<Bytes> frames;       // width x height values each
    std::vector<unsigned> delays;    // tenths of a second per frame (missing: 1)
    bool loop = true;
    std::size_t poolBytes = 65536;   // the reader's object pool: every object's pixels must fit
};

// The stream, or why none can be written within the reader's limits (object
// pool, objects, frames, chunk and stream sizes).
EncodeResult EncodeSafAnimation(const SafFrames& a);

}  // namespace handpix
