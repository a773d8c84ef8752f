// Writes kind-2 SIS streams from descriptions: blocks given as 2-bit
// pictures (one byte per pixel, values 0 to 3, rows top first), coded as two
// Gray planes with the context-model run coder; derived blocks with change
// regions; frames with backgrounds and placements. It writes what it is
// told; the frame encoder keeps to the limits.
#pragma once
#include <cstdint>
#include <vector>

#include "handpix/handset/SisBitWriter.h"

namespace handpix {

// The coded planes of a w x h picture of 2-bit pixels, ending on a byte.
std::vector<std::uint8_t> EncodeSisKind2Planes(const std::vector<std::uint8_t>& px, std::uint32_t w,
                                               std::uint32_t h);

// One plane's bits as the coder writes them (for the coder's own rules).
std::vector<std::uint8_t> EncodeSisKind2PlaneBits(const std::vector<std::uint8_t>& bits, std::uint32_t w,
                                                  std::uint32_t h);

struct SisKind2Region {
    std::uint32_t first = 0;  // cell numbers
    std::uint32_t last = 0;
    std::vector<std::uint8_t> pixels;  // the region's pixels, row-major
};

struct SisKind2Block {
    bool cache = false;
    bool derived = false;
    // Explicit blocks.
    std::uint32_t keyMode = 0;
    std::uint8_t keyByte = 0;
    std::uint32_t across = 1;
    std::uint32_t down = 1;
    std::vector<std::uint8_t> pixels;
    // Derived blocks.
    std::uint32_t base = 1;  // counted from 1
    bool change = false;
    std::vector<SisKind2Region> regions;
};

struct SisKind2Placement {
    std::uint32_t block = 1;  // counted from 1
    std::uint32_t layer = 0;
    int x = 0;
    int y = 0;
    bool mirror = false;
    bool flip = false;
    bool transpose = false;
    int extra1 = -1;  // stored-only bytes, written when 0 or more
    int extra2 = -1;
};

struct SisKind2Frame {
    bool invert = false;
    int background = -1;  // -1: no background byte
    std::vector<SisKind2Placement> placements;
};

struct SisKind2Stream {
    std::uint8_t byte3 = 0;  // top five bits 0, 29 or 30
    std::uint8_t widthByte = 16;
    std::uint8_t heightByte = 16;
    std::uint8_t invertAll = 0;
    std::uint8_t attribute = 0;
    std::uint8_t delay = 10;                  // below 128: every frame's delay
    std::vector<std::uint8_t> frameDelays;    // non-empty: control 0x80 | delay, one byte per frame
    std::uint8_t layerCount = 1;
    std::uint8_t flags = 0;  // bit 7: loop
    std::uint8_t kindByte = 2;
    std::uint8_t method = 1;
    std::vector<SisKind2Block> blocks;
    std::vector<SisKind2Frame> frames;
};

std::vector<std::uint8_t> WriteSisKind2(const SisKind2Stream& s);

}  // namespace handpix
