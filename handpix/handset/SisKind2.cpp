#include "handpix/handset/SisKind2.h"

#include <cstring>

namespace handpix {

namespace {

std::size_t BlockBytes(std::uint32_t across, std::uint32_t down) { return std::size_t{across} * down * 16; }

// Background values 0 to 3 fill every pixel; -1 (absent) counts as 0.
constexpr std::uint8_t kBackgroundFill[4] = {0x00, 0x55, 0xAA, 0xFF};

}  // namespace

void SisKind2Decoder::Start(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore,
                            std::size_t blockStoreSize) {
    m_pPool = pool;
    m_nPoolSize = pool ? poolSize : 0;
    m_nPoolUsed = 0;
    m_pBlockStore = blockStore;
    m_nBlockStoreSize = blockStore ? blockStoreSize : 0;
    m_bPrepared = false;
}

Status SisKind2Decoder::ReadBlockRecord(ByteReader& r, BlockRecord& b) const {
    std::uint8_t first = 0, second = 0;
    if (!r.U8(first) || !r.U8(second)) return Status::truncated;
    b = BlockRecord{};
    b.cacheFlag = (first & 0x80) != 0;
    std::uint16_t length = 0;
    if (second & 0x80) {
        std::uint8_t change = 0;
        b.derived = true;
        b.base = (second & 0x7Fu);
        if (b.base == 0 || b.base > m_header.blockCount) return Status::invalid;
        b.base -= 1;
        if (!r.U8(change)) return Status::truncated;
        b.changed = (change & 0x80) != 0;
        if (!b.changed) return Status::ok;
        std::uint16_t regions = 0;
        if (!r.U16BE(regions) || !r.U16BE(length)) return Status::truncated;
        b.regionCount = regions;
    } else {
        std::uint8_t key = 0, across = 0, down = 0;
        b.keyMode = (second >> 4) & 7u;
        if (b.keyMode == 2 && !r.U8(key)) return Status::truncated;
        b.keyByte = key;
        if (!r.U8(across) || !r.U8(down) || !r.U16BE(length)) return Status::truncated;
        if (across == 0 || down == 0 || across > kSisKind2MaxCellsSide || down > kSisKind2MaxCellsSide)
            return Status::invalid;
        b.across = across;
        b.down = down;
    }
    b.dataOffset = r.Position();
    b.dataLength = length;
    return r.Skip(length) ? Status::ok : Status::truncated;
}

// A derived block takes its size and key from the explicit block at the end
// of its chain; chains are followed by a bounded loop, never recursively.
Status SisKind2Decoder::ResolveDerived() {
    for (std::uint32_t i = 0; i < m_header.blockCount; ++i) {
        std::uint32_t j = i;
        std::uint32_t steps = 0;
        while (m_blocks[j].derived) {
            if (++steps > kSisKind2MaxChain) return Status::invalid;
            j = m_blocks[j].base;
        }
        m_blocks[i].across = m_blocks[j].across;
        m_blocks[i].down = m_blocks[j].down;
        m_blocks[i].keyMode = m_blocks[j].keyMode;
        m_blocks[i].keyByte = m_blocks[j].keyByte;
    }
    return Status::ok;
}

Status SisKind2Decoder::SkipFrameRecord(ByteReader& r) const {
    std::uint8_t flags = 0, count = 0;
    if (!r.U8(flags)) return Status::truncated;
    if ((flags & 0x20) && !r.Skip(1)) return Status::truncated;
    if (!r.U8(count)) return Status::truncated;
    if (count > kSisKind2MaxPlacements) return Status::invalid;
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t p[5];
        if (!r.Read(p, sizeof p)) return Status::truncated;
        const std::size_t extra = ((p[2] >> 2) & 1u) + ((p[2] >> 1) & 1u);
        if (!r.Skip(extra)) return Status::truncated;
    }
    return Status::ok;
}

int SisKind2Decoder::PrepareKind2(const std::uint8_t* stream, std::size_t size) {
    m_bPrepared = false;
    m_nPoolUsed = 0;
    if (!Ok(ReadSisKind2Header(stream, size, m_header))) return 0;
    if (m_header.kindByte != 2 || m_header.frameCount > kSisMaxFrames || m_header.blockCount > kSisKind2MaxBlocks)
        return 0;
    ByteReader r(stream, size);
    if (!r.Seek(m_header.recordsOffset)) return 0;
    for (std::uint32_t b = 0; b < m_header.blockCount; ++b) {
        if (!Ok(ReadBlockRecord(r, m_blocks[b]))) return 0;
    }
    if (!Ok(ResolveDerived())) return 0;
    for (std::uint32_t f = 0; f < m_header.frameCount; ++f) {
        m_frameOffsets[f] = r.Position();
        if (!Ok(SkipFrameRecord(r))) return 0;
    }
    m_pStream = stream;
    m_nSize = size;
    m_bPrepared = true;
    return 1;
}

Status SisKind2Decoder::DecodeExplicit(const BlockRecord& b, std::uint8_t* dst) const {
    const std::uint32_t w = 8 * b.across, h = 8 * b.down;
    if (m_header.method != 1) {
        std::memset(dst, 0, BlockBytes(b.across, b.down));
        return Status::ok;
    }
    MsbBitReader r(m_pStream + b.dataOffset, b.dataLength);
    return DecodeSisKind2Planes(r, w, h, dst);
}

// Regions of change data replace rectangles of cells; each region is coded
// like a block and ends on a byte boundary.
Status SisKind2Decoder::ApplyChanges(const BlockRecord& b, std::uint8_t* dst) {
    if (m_header.method != 1) return Status::ok;
    const std::uint32_t m = b.across;
    const std::size_t stride = 2 * std::size_t{m};
    MsbBitReader r(m_pStream + b.dataOffset, b.dataLength);
    for (std::uint32_t i = 0; i < b.regionCount; ++i) {
        std::uint32_t first = 0, last = 0;
        if (!r.Read(8, first) || !r.Read(8, last)) return Status::truncated;
        if (last >= m * b.down || last % m < first % m || last / m < first / m) return Status::invalid;
        const std::uint32_t across = last % m - first % m + 1;
        const std::uint32_t down = last / m - first / m + 1;
        const Status s = DecodeSisKind2Planes(r, 8 * across, 8 * down, m_region);
        if (!Ok(s)) return s;
        const std::size_t rowBytes = 2 * std::size_t{across};
        for (std::uint32_t y = 0; y < 8 * down; ++y) {
            std::uint8_t* row = dst + (8 * (first / m) + y) * stride + 2 * (first % m);
            std::memcpy(row, m_region + y * rowBytes, rowBytes);
        }
    }
    return Status::ok;
}

// Files a finished block: blocks flagged for caching go to the object pool
// for later requests, the rest are kept for the current request only.
const std::uint8_t* SisKind2Decoder::Keep(std::uint32_t b, const std::uint8_t* pixels) {
    BlockRecord& block = m_blocks[b];
    const std::size_t bytes = BlockBytes(block.across, block.down);
    if (block.cacheFlag) {
        if (!m_pPool || bytes > m_nPoolSize - m_nPoolUsed) return nullptr;
        block.cachePos = m_nPoolUsed;
        block.cached = true;
        std::memcpy(m_pPool + m_nPoolUsed, pixels, bytes);
        m_nPoolUsed += bytes;
        return m_built[b] = m_pPool + block.cachePos;
    }
    std::memcpy(m_buildStore[b], pixels, bytes);
    return m_built[b] = m_buildStore[b];
}

const std::uint8_t* SisKind2Decoder::BlockPixels(std::uint32_t b) {
    if (m_built[b]) return m_built[b];
    // Walk down the chain to a block that is ready or explicit.
    std::uint32_t chain[kSisKind2MaxChain + 1];
    std::uint32_t links = 0;
    std::uint32_t j = b;
    while (!m_built[j] && !m_blocks[j].cached && m_blocks[j].derived) {
        if (links == kSisKind2MaxChain) return nullptr;
        chain[links++] = j;
        j = m_blocks[j].base;
    }
    const std::size_t bytes = BlockBytes(m_blocks[b].across, m_blocks[b].down);
    if (!m_pBlockStore || bytes > m_nBlockStoreSize) return nullptr;
    const std::uint8_t* below = m_built[j];
    if (!below && m_blocks[j].cached) below = m_built[j] = m_pPool + m_blocks[j].cachePos;
    if (!below) {
        if (!Ok(DecodeExplicit(m_blocks[j], m_pBlockStore))) return nullptr;
        below = Keep(j, m_pBlockStore);
        if (!below) return nullptr;
    }
    while (links > 0) {
        const std::uint32_t d = chain[--links];
        std::memmove(m_pBlockStore, below, bytes);
        if (m_blocks[d].changed && !Ok(ApplyChanges(m_blocks[d], m_pBlockStore))) return nullptr;
        below = Keep(d, m_pBlockStore);
        if (!below) return nullptr;
    }
    return below;
}

bool SisKind2Decoder::RenderPlacement(const Placement& p, const SisFrameSlot& slot, std::uint32_t layer) {
    const std::uint8_t* packed = BlockPixels(p.block);
    if (!packed) return false;
    const BlockRecord& b = m_blocks[p.block];
    const std::uint32_t w = 8 * b.across, h = 8 * b.down;
    m_cells.Reset(w, h);
    for (std::uint32_t y = 0; y < h; ++y) {
        std::uint8_t* row = m_cells.Row(y);
        const std::uint8_t* in = packed + std::size_t{y} * (w / 4);
        for (std::uint32_t x = 0; x < w; x += 4) {
            const std::uint8_t v = in[x / 4];
            row[x] = v >> 6;
            row[x + 1] = (v >> 4) & 3;
            row[x + 2] = (v >> 2) & 3;
            row[x + 3] = v & 3;
        }
    }
    TransformSisBlock(m_cells, p.transform, kSisBlockMaxWidth, kSisBlockMaxHeight, m_transformed);
    // Key mode 2's key byte and the undefined modes 3 to 7 set no key: like
    // mode 1 they draw the whole block.
    if (layer == 0 || b.keyMode != 0) {
        CompositeSisBlock(slot, m_transformed, p.x, p.y, SisMerge::replace, nullptr);
    } else {
        BuildSisSilhouette(m_transformed, m_cells);
        CompositeSisBlock(slot, m_transformed, p.x, p.y, SisMerge::mask, &m_cells);
    }
    return true;
}

bool SisKind2Decoder::RenderFrame(std::uint32_t frame, std::uint8_t* out) {
    ByteReader r(m_pStream, m_nSize);
    std::uint8_t flags = 0, background = 0, count = 0;
    if (!r.Seek(m_frameOffsets[frame]) || !r.U8(flags)) return false;
    const bool hasBackground = (flags & 0x20) != 0;
    if (hasBackground && !r.U8(background)) return false;
    if (!r.U8(count) || count > kSisKind2MaxPlacements) return false;
    Placement placements[kSisKind2MaxPlacements];
    for (unsigned i = 0; i < count; ++i) {
        std::uint8_t p[5];
        if (!r.Read(p, sizeof p)) return false;
        if (p[0] == 0 || p[0] > m_header.blockCount) return false;
        const std::size_t extra = ((p[2] >> 2) & 1u) + ((p[2] >> 1) & 1u);  // stored only
        if (!r.Skip(extra)) return false;
        Placement& pl = placements[i];
        pl.block = p[0] - 1u;
        pl.layer = p[1];
        pl.x = (p[2] & 0x80) ? -static_cast<int>(p[3]) : p[3];
        pl.y = (p[2] & 0x40) ? -static_cast<int>(p[4]) : p[4];
        pl.transform = {(p[2] & 0x08) != 0, (p[2] & 0x10) != 0, (p[2] & 0x20) != 0};
    }
    const SisFrameSlot slot{out, m_header.width, m_header.height, 2};
    const std::size_t bytes = std::size_t{slot.width} * slot.height / 4;
    if (!hasBackground || background < 4) std::memset(out, kBackgroundFill[hasBackground ? background : 0], bytes);
    for (std::uint32_t layer = 0; layer < m_header.layerCount; ++layer) {
        for (unsigned i = 0; i < count; ++i) {
            if (placements[i].layer == layer && !RenderPlacement(placements[i], slot, layer)) return false;
        }
    }
    const bool invert = (flags & 0x80) != 0;
    if (invert != (m_header.invertAll != 0)) {
        for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(~out[i]);
    }
    return true;
}

int SisKind2Decoder::DecodeKind2Frame(const std::uint8_t* stream, std::size_t size, std::uint8_t* out,
                                      std::size_t outSize, int frame) {
    if (!m_bPrepared || !out || !stream || size != m_nSize) return 0;
    m_pStream = stream;
    if (frame < -1 || frame >= static_cast<int>(m_header.frameCount)) return 0;
    const std::size_t slotBytes = std::size_t{m_header.width} * m_header.height / 4;
    const std::size_t slots = frame < 0 ? m_header.frameCount : 1;
    if (slotBytes * slots > outSize) return 0;
    for (auto& p : m_built) p = nullptr;
    if (frame >= 0) return RenderFrame(static_cast<std::uint32_t>(frame), out) ? 1 : 0;
    for (std::uint32_t f = 0; f < m_header.frameCount; ++f) {
        if (!RenderFrame(f, out + f * slotBytes)) return 0;
    }
    return static_cast<int>(m_header.frameCount);
}

}  // namespace handpix
