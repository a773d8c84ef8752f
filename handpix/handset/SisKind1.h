// Kind-1 SIS decoder: 1-bit animations of blocks made of 8 x 8 cells, each
// cell raw or run-length coded with the T.4 terminating codes, pixels in
// zig-zag order. Every request reparses the stream from its header; nothing
// is kept between calls except the fixed work stores.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/handset/SisCompose.h"
#include "handpix/handset/SisHeader.h"
#include "handpix/platform/core/BitReader.h"
#include "handpix/platform/core/Status.h"

namespace handpix {

// The cell map is 128 bits, so larger blocks are refused.
inline constexpr std::uint32_t kSisKind1MaxCells = 128;
inline constexpr std::uint32_t kSisKind1MaxCellsDown = 12;

class SisKind1Decoder {
public:
    // frame >= 0 renders that frame into the first slot of out; -1 renders
    // every frame, frame i into slot i (width x height / 8 bytes each).
    // Returns the frame count, or 0 when the stream is bad, the frame does
    // not exist or out (outSize bytes) cannot hold the slots.
    int DecodeKind1Frame(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize,
                         int frame);

private:
    struct BlockRecord {
        std::uint32_t across = 0;
        std::uint32_t down = 0;
        std::uint32_t cells = 0;
        std::uint8_t cellMap[kSisKind1MaxCells / 8] = {};  // 1 = run-length coded
        std::size_t dataBit = 0;  // cell data, or a derived block's change list
        std::uint32_t base = 0;
        bool derived = false;
        bool changed = false;
        bool RunLength(std::uint32_t cell) const { return (cellMap[cell >> 3] >> (7 - (cell & 7))) & 1; }
    };
    struct Placement {
        std::uint32_t block = 0;
        std::uint32_t layer = 0;
        int x = 0;
        int y = 0;
        SisTransform transform;
    };
    struct FrameRecord {
        bool invert = false;
        std::uint32_t count = 0;
        Placement placements[kSisKind1MaxBlocks];
    };

    Status ReadBlockRecords(MsbBitReader& r);
    Status ReadChangeList(MsbBitReader& r, const BlockRecord& block, SisPixelBlock* dst);
    Status ReadFrameRecord(MsbBitReader& r, FrameRecord& f) const;
    Status DecodeBlock(std::uint32_t b, SisPixelBlock& dst);
    void RenderFrame(const FrameRecord& f, std::uint8_t* slot);
    bool RenderPlacement(const Placement& p, const SisFrameSlot& slot);

    const std::uint8_t* m_pStream = nullptr;
    std::size_t m_nSize = 0;
    SisKind1Header m_header;
    BlockRecord m_blocks[kSisKind1MaxBlocks];
    bool m_bBlockFailed = false;
    SisPixelBlock m_cells;        // the decoded block, then the silhouette mask
    SisPixelBlock m_transformed;  // the block as placed
};

// One cell: a raw cell is 64 bits; a run-length cell is a colour bit and T.4
// terminating codes that add up to exactly 64. px (may be null: the cell is
// only passed over) receives the pixels in coded (zig-zag) order, 0 or 1.
Status ReadSisKind1Cell(MsbBitReader& r, bool runLength, std::uint8_t* px);

}  // namespace handpix
