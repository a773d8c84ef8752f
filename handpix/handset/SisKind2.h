// Kind-2 SIS decoder: 4-level animations of blocks coded as two Gray-code
// bit planes. A one-time preparation reads the block and frame tables; each
// frame request decodes only the blocks its placements use and keeps blocks
// flagged for caching in the object pool.
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/handset/SisCompose.h"
#include "handpix/handset/SisHeader.h"
#include "handpix/handset/SisKind2Coder.h"
#include "handpix/platform/core/ByteReader.h"
#include "handpix/platform/core/Status.h"

namespace handpix {

inline constexpr std::uint32_t kSisKind2MaxPlacements = 50;
inline constexpr std::uint32_t kSisKind2MaxChain = 50;
inline constexpr std::uint32_t kSisKind2MaxCellsSide = kSisKind2MaxBlockSide / 8;
inline constexpr std::size_t kSisKind2MaxBlockBytes = kSisKind2MaxBlockSide * kSisKind2MaxBlockSide / 4;

class SisKind2Decoder {
public:
    // Hands over the work areas and forgets every cached block.
    void Start(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore, std::size_t blockStoreSize);

    // Reads the block and frame tables; 1 on success, 0 for more than 20
    // frames or 50 blocks or a malformed record. The stream must stay valid
    // for the frame requests that follow.
    int PrepareKind2(const std::uint8_t* stream, std::size_t size);

    // frame >= 0 renders that frame into the first slot of out; -1 renders
    // every frame, frame i into slot i (width x height / 4 bytes each).
    // 1 on success (the frame count for -1), 0 on failure. stream and size
    // are the prepared stream's (it may have moved, not changed).
    int DecodeKind2Frame(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize,
                         int frame);

    bool Prepared() const { return m_bPrepared; }
    std::size_t PoolUsed() const { return m_nPoolUsed; }

private:
    struct BlockRecord {
        bool cacheFlag = false;
        bool derived = false;
        bool changed = false;
        std::uint32_t keyMode = 0;  // 0 silhouette; every other mode draws the whole block
        std::uint32_t keyByte = 0;  // stored; keys are not applied
        std::uint32_t across = 0;
        std::uint32_t down = 0;
        std::uint32_t base = 0;  // 0-based
        std::uint32_t regionCount = 0;
        std::size_t dataOffset = 0;  // coded planes or change data
        std::size_t dataLength = 0;
        bool cached = false;
        std::size_t cachePos = 0;
    };
    struct Placement {
        std::uint32_t block = 0;  // 0-based
        std::uint32_t layer = 0;
        int x = 0;
        int y = 0;
        SisTransform transform;
    };

    Status ReadBlockRecord(ByteReader& r, BlockRecord& b) const;
    Status ResolveDerived();
    Status SkipFrameRecord(ByteReader& r) const;
    const std::uint8_t* BlockPixels(std::uint32_t b);
    Status DecodeExplicit(const BlockRecord& b, std::uint8_t* dst) const;
    Status ApplyChanges(const BlockRecord& b, std::uint8_t* dst);
    const std::uint8_t* Keep(std::uint32_t b, const std::uint8_t* pixels);
    bool RenderFrame(std::uint32_t frame, std::uint8_t* out);
    bool RenderPlacement(const Placement& p, const SisFrameSlot& slot, std::uint32_t layer);

    std::uint8_t* m_pPool = nullptr;
    std::size_t m_nPoolSize = 0;
    std::size_t m_nPoolUsed = 0;
    std::uint8_t* m_pBlockStore = nullptr;
    std::size_t m_nBlockStoreSize = 0;

    const std::uint8_t* m_pStream = nullptr;
    std::size_t m_nSize = 0;
    bool m_bPrepared = false;
    SisKind2Header m_header;
    BlockRecord m_blocks[kSisKind2MaxBlocks];
    std::size_t m_frameOffsets[kSisMaxFrames] = {};

    // Blocks already built during the current request, so that a chain of
    // derived blocks is not rebuilt for every placement.
    const std::uint8_t* m_built[kSisKind2MaxBlocks] = {};
    std::uint8_t m_buildStore[kSisKind2MaxBlocks][kSisKind2MaxBlockBytes];
    std::uint8_t m_region[kSisKind2MaxBlockBytes];
    SisPixelBlock m_cells;        // the block to place, then the silhouette mask
    SisPixelBlock m_transformed;  // the block as placed
};

}  // namespace handpix
