// Writes kind-1 SIS streams from descriptions: blocks given as 1-bit
// pictures (one byte per pixel, rows top first) with each cell raw or
// run-length coded, derived blocks with change lists, and frames that place
// blocks. It writes what it is told; the frame encoder keeps to the limits.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "handpix/handset/SisBitWriter.h"

namespace handpix {

enum class CellCoding { raw, runLength };  // runLength falls back to raw for a one-colour cell

struct SisKind1Change {
    std::uint32_t cell = 0;
    std::vector<std::uint8_t> pixels;  // 64, row-major
    CellCoding coding = CellCoding::runLength;
};

struct SisKind1Block {
    bool derived = false;
    // Explicit blocks.
    std::uint32_t across = 1;
    std::uint32_t down = 1;
    std::vector<std::uint8_t> pixels;     // (8 across) x (8 down), row-major
    std::vector<CellCoding> coding;       // per cell; empty: all run-length
    // Derived blocks (from the last explicit block before them).
    bool change = false;
    std::vector<SisKind1Change> changes;
};

struct SisKind1Placement {
    std::uint32_t block = 0;  // 0-based; at most one placement per block and frame
    std::uint32_t layer = 0;
    int x = 0;
    int y = 0;
    bool flip = false;
    bool mirror = false;
    bool transpose = false;
    int extra = -1;  // 0 to 3 writes the optional 2-bit field
};

struct SisKind1Frame {
    bool invert = false;
    std::vector<SisKind1Placement> placements;
};

struct SisKind1Stream {
    std::uint32_t widthUnits = 2;  // 8-pixel units
    std::uint32_t heightUnits = 2;
    std::uint32_t attribute = 0;
    bool invertAll = false;
    std::uint32_t cellNumberBits = 7;
    std::uint32_t delay = 5;
    std::uint32_t layerCount = 1;
    std::uint32_t flags = 0;  // bit 3: loop
    std::vector<SisKind1Block> blocks;
    std::vector<SisKind1Frame> frames;
};

std::vector<std::uint8_t> WriteSisKind1(const SisKind1Stream& s);

// The 40-bit header alone, with any field values (for the header rules).
std::vector<std::uint8_t> WriteSisKind1Header(std::uint32_t frames, std::uint32_t widthUnits,
                                              std::uint32_t heightUnits, std::uint32_t blockField);

// The 64 pixels of the 8 x 8 cell at (x0, y0) of a picture `stride` wide, in
// coded (zig-zag) order.
std::array<std::uint8_t, 64> SisKind1CodedCell(const std::vector<std::uint8_t>& pixels, std::uint32_t stride,
                                               std::uint32_t x0, std::uint32_t y0);

// Bits a cell takes: the map bit's choice (run-length unless the cell is one
// colour or raw is shorter) and its data.
struct SisKind1CellCost {
    bool runLength = false;
    std::uint32_t bits = 64;
};
SisKind1CellCost SisKind1CellBits(const std::array<std::uint8_t, 64>& coded);

}  // namespace handpix
