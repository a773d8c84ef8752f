// Builds kind-1 SIS streams from readable descriptions: blocks given as
// 1-bit pictures (one byte per pixel, rows top first) with each cell raw or
// run-length coded, derived blocks with change lists, and frames that place
// blocks. Also a straightforward reference renderer of such a description.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace handpix::test {

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

// The T.4 terminating codes as written in the standard's table, run 0 to 63.
extern const char* const kT4WhiteText[64];
extern const char* const kT4BlackText[64];

// Renders frame f of s pixel by pixel (0/1, row-major), as the stream means.
std::vector<std::uint8_t> RenderSisKind1(const SisKind1Stream& s, std::uint32_t f);

// Packs 0/1 pixels into 1-bit raw frame rows.
std::vector<std::uint8_t> PackBits1(const std::vector<std::uint8_t>& px);

}  // namespace handpix::test
