// Headers of the two "SIS" stream kinds: the kind test on byte 3, the
// bit-packed kind-1 header and the byte-aligned kind-2 header.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/platform/core/Status.h"

namespace handpix {

inline constexpr std::uint32_t kSisMaxFrames = 20;
inline constexpr std::uint32_t kSisKind1MaxBlocks = 20;
inline constexpr std::uint32_t kSisKind2MaxBlocks = 50;
inline constexpr std::size_t kSisKind1HeaderBit = 24;  // the bit string starts at byte 3

// 1 or 2 for the two SIS kinds, 0 when the bytes are not an SIS stream.
// The top five bits of byte 3 are the kind-1 frame count (1 to 20); kind 2
// marks itself with 0, 29 or 30 there.
int SisKindOf(const std::uint8_t* stream, std::size_t size);

struct SisKind1Header {
    std::uint32_t frameCount = 0;
    std::uint32_t attribute = 0;
    std::uint32_t width = 0;   // pixels: 8 x the 5-bit field
    std::uint32_t height = 0;  // pixels: 8 x the 4-bit field
    std::uint32_t invertAll = 0;
    std::uint32_t blockCount = 0;
    std::uint32_t cellNumberBits = 0;
    std::uint32_t storedFlag = 0;
    std::uint32_t delay = 0;
    std::uint32_t layerCount = 0;
    std::uint32_t flags = 0;  // top bit: loop
    std::size_t endBit = 0;   // bit cursor just past the header
};

// Reads and checks the 40-bit kind-1 header: frame count, width and height
// fields non-zero, at most 20 blocks.
Status ReadSisKind1Header(const std::uint8_t* stream, std::size_t size, SisKind1Header& h);

struct SisKind2Header {
    std::uint32_t width = 0;   // pixels, multiple of 8; byte 0 means 256
    std::uint32_t height = 0;
    std::uint32_t invertAll = 0;
    std::uint32_t frameCount = 0;
    std::uint32_t attribute = 0;
    std::uint32_t storedByte = 0;
    std::uint32_t delayControl = 0;
    bool perFrameDelays = false;    // delay control 128 or more
    std::size_t delayOffset = 0;    // first per-frame delay byte
    std::uint32_t layerCount = 0;
    std::uint32_t flags = 0;        // bit 7: loop
    std::uint32_t kindByte = 0;     // 2 for two bit planes; 8 rejects
    std::uint32_t method = 0;       // only method 1 codes pixels
    std::uint32_t blockCount = 0;
    std::size_t recordsOffset = 0;  // first block record

    std::uint32_t Delay(const std::uint8_t* stream, std::uint32_t frame) const {
        return perFrameDelays ? stream[delayOffset + frame] : delayControl;
    }
};

// Reads the kind-2 header; frame count 0 and kind byte 8 are refused.
Status ReadSisKind2Header(const std::uint8_t* stream, std::size_t size, SisKind2Header& h);

}  // namespace handpix
